#pragma once

#include <QRect>
#include <cmath>

// Layout and positions are kept in twips, 15 to a pixel; pixels are only for
// drawing.
class Twips
{
public:
    static constexpr float PerPixel = 15.0f;

    static int toPixels(float twips) { return int(std::lround(twips / PerPixel)); }
    static QRect toPixels(float left, float top, float width, float height)
    {
        return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
    }
};
