// SPDX-License-Identifier: MIT
#pragma once

#include "net/Packets.h"
#include "stage/AvatarImage.h"
#include "stage/Roster.h"

#include <QStringView>
#include <optional>

// What one received Action packet does to the stage, read by fixed positions
// (counted from 1): the client number at 7, then the direction word, the
// avatar code at 14 or 15 and the left edge after "X".
struct ActionUpdate
{
    int index = -1;            // the image addressed; -1: none
    std::optional<float> left; // the left edge the packet places the image at
    const AvatarRow *avatar = nullptr;
    std::optional<Direction> step;  // "GoLeft" / "GoRight": step and turn
    std::optional<Direction> stand; // "StLeft" / "StRight": turn where it stands
};

namespace RemoteUpdate {

ActionUpdate parse(QStringView packet);
// Shows the image, places it, steps and turns it, and stands it on the
// ground with the height of the picture it ends up showing.
void apply(const ActionUpdate &update, AvatarImage &image, float groundTop);

} // namespace RemoteUpdate
