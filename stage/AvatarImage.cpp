// SPDX-License-Identifier: MIT
#include "stage/AvatarImage.h"

void AvatarImage::assignSprite(const SpriteRef &sprite)
{
    constexpr float TwipsPerPixel = 15;
    m_sprite = sprite;
    m_width = float(sprite.size.width()) * TwipsPerPixel;
    m_height = float(sprite.size.height()) * TwipsPerPixel;
}
