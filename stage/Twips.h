// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <cmath>

// Layout and positions are kept in twips, 15 to a pixel; pixels are only for
// drawing.
namespace Twips {

inline constexpr float PerPixel = 15.0f;

inline int toPixels(float twips)
{
    return int(std::lround(twips / PerPixel));
}
inline QRect toPixels(float left, float top, float width, float height)
{
    return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
}

} // namespace Twips
