// SPDX-License-Identifier: MIT
#pragma once

#include "net/Packets.h"

#include <QStringView>
#include <optional>

// Constants and small rules of the stage.
namespace StageRules {

inline constexpr int ImageCount = 21; // imgClient(0) .. imgClient(20)
inline constexpr float Step = 50.0f;
inline constexpr float LeftLimit = 100.0f;   // "<" steps while left edge >= this
inline constexpr float RightLimit = 2100.0f; // ">" steps while left edge <= this
inline constexpr float GroundTop = 1080.0f;

// The image a client number caption names: digits, possibly blank-padded,
// within the array. Empty for anything else.
std::optional<int> imageIndex(QStringView caption);
// Both limits are tested against the position before the step.
bool mayStep(Direction dir, float left);
float stepped(Direction dir, float left);

} // namespace StageRules
