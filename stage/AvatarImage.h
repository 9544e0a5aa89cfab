// SPDX-License-Identifier: MIT
#pragma once

#include "stage/ImageSlot.h"

// One of the stage's avatar images as plain data: where it stands, how large
// it is, which sprite it shows and whether it is shown at all. The window
// draws it; the rules only change it.
class AvatarImage : public ImageSlot
{
public:
    // Where every image starts, hidden and without a picture.
    static constexpr float StartLeft = 1800;
    static constexpr float StartTop = 480;
    static constexpr float StartWidth = 375;
    static constexpr float StartHeight = 615;

    float Left() const override { return m_left; }
    void setLeft(float twips) override { m_left = twips; }
    float Top() const override { return m_top; }
    void setTop(float twips) override { m_top = twips; }
    float Width() const { return m_width; }
    float Height() const override { return m_height; }
    bool visible() const { return m_visible; }
    void makeVisible() override { m_visible = true; }
    // Takes the sprite's size, 15 twips to a pixel.
    void assignSprite(const SpriteRef &sprite) override;
    // Empty name while it has no picture.
    const SpriteRef &sprite() const { return m_sprite; }

private:
    float m_left = StartLeft;
    float m_top = StartTop;
    float m_width = StartWidth;
    float m_height = StartHeight;
    bool m_visible = false;
    SpriteRef m_sprite;
};
