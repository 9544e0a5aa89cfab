// SPDX-License-Identifier: MIT
#pragma once

#include "stage/Roster.h"

// An avatar image as the stage rules see it: an edge-positioned picture in
// twips. The window's ImageControl is one; tests and fuzzers use plain ones.
class ImageSlot
{
public:
    virtual ~ImageSlot() = default;

    virtual float Left() const = 0;
    virtual void setLeft(float twips) = 0;
    virtual float Top() const = 0;
    virtual void setTop(float twips) = 0;
    virtual float Height() const = 0;
    virtual void makeVisible() = 0;
    // Shows the sprite and takes its size.
    virtual void assignSprite(const SpriteRef &sprite) = 0;
};
