// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <optional>

// Positions travel and show as the shortest decimal text of a single-precision
// twip value: "1800", "-50", "1800.5"; never "1800.0", "+50" or "01800".
namespace PositionText {

QString format(float value);
// Accepts an optional sign, digits and an optional fraction; nothing else
// (no blanks, exponents, "inf" or "nan"). Empty when the text is not a number.
std::optional<float> parse(QStringView text);

} // namespace PositionText
