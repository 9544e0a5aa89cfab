// SPDX-License-Identifier: MIT
#pragma once

#include "stage/ImageSlot.h"

#include <QString>

// An avatar image without a widget, for the stage rules.
struct PlainSlot : ImageSlot
{
    float left = 1800, top = 480, width = 375, height = 615;
    bool visible = false;
    QString sprite;

    float Left() const override { return left; }
    void setLeft(float twips) override { left = twips; }
    float Top() const override { return top; }
    void setTop(float twips) override { top = twips; }
    float Height() const override { return height; }
    void makeVisible() override { visible = true; }
    void assignSprite(const SpriteRef &ref) override
    {
        sprite = ref.name.toString();
        width = ref.size.width() * 15.0f;
        height = ref.size.height() * 15.0f;
    }
};
