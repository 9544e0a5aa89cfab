// SPDX-License-Identifier: MIT
#include "stage/AvatarImage.h"

#include "stage/Twips.h"

void AvatarImage::assignSprite(const SpriteRef &sprite)
{
    m_sprite = sprite;
    m_height = float(sprite.size.height()) * Twips::PerPixel;
}
