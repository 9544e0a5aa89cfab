#pragma once

#include "net/Packets.h"

#include <QStringView>
#include <optional>

// Constants and small rules of the stage.
class StageRules
{
public:
    static constexpr int ImageCount = 21; // imgClient(0) .. imgClient(20)
    static constexpr float Step = 50.0f;
    static constexpr float LeftLimit = 100.0f;   // "<" steps while left edge >= this
    static constexpr float RightLimit = 2100.0f; // ">" steps while left edge <= this
    static constexpr float GroundTop = 1080.0f;

    // The image a client number caption names: digits, possibly blank-padded,
    // within the array. Empty for anything else.
    static std::optional<int> imageIndex(QStringView caption);
    // Both limits are tested against the position before the step.
    static bool mayStep(Direction dir, float left);
    static float stepped(Direction dir, float left);
};
