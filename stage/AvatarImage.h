// SPDX-License-Identifier: MIT
#pragma once

#include "stage/Roster.h"

// One of the stage's avatar images as plain data, in twips: where it stands,
// how large it is, which sprite it shows and whether it is shown at all. The
// window draws it; the rules only change it.
class AvatarImage
{
public:
    // Where every image starts, hidden and without a picture.
    static constexpr float StartLeft = 1800;
    static constexpr float StartTop = 480;
    static constexpr float StartWidth = 375;
    static constexpr float StartHeight = 615;

    float Left() const { return m_left; }
    void setLeft(float twips) { m_left = twips; }
    float Top() const { return m_top; }
    void setTop(float twips) { m_top = twips; }
    float Height() const { return m_height; }
    bool visible() const { return m_visible; }
    void makeVisible() { m_visible = true; }
    void hide() { m_visible = false; }
    // Takes the sprite's height, 15 twips to a pixel.
    void assignSprite(const SpriteRef &sprite);
    // Empty name while it has no picture.
    const SpriteRef &sprite() const { return m_sprite; }

private:
    float m_left = StartLeft;
    float m_top = StartTop;
    float m_height = StartHeight;
    bool m_visible = false;
    SpriteRef m_sprite;
};
