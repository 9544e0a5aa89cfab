// SPDX-License-Identifier: MIT
#pragma once

#include "stage/AvatarImage.h"

#include <QString>
#include <optional>

// Who stands on the stage, in words: what a screen reader tells of each
// avatar a sighted user sees.
namespace StagePeople {

// The width of the stage that shows, in twips.
inline constexpr float StageWidth = 2520.0f;

// Whether any of the image shows: it is shown, has a picture, and is not
// wholly past either edge (as one who left is, stepped off on the left).
bool onStage(const AvatarImage &image);

// "You, client 0, Gimbo" for the own image; "Client 2, Sorra, 3 steps left
// of you" for another, where it stands as seen from the own image, when
// there is one.
QString describe(int index, const AvatarImage &image, std::optional<int> own,
                 const AvatarImage *ownImage);

} // namespace StagePeople
