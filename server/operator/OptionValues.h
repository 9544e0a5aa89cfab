// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>
#include <optional>

// Numbers on the command line, read strictly: a mistyped value is an error
// to report, never a number that happens to parse (nan, inf, 2.5 for a
// count, a unit after the digits).
namespace OptionValues {

// Decimal digits only, within [min, max].
std::optional<qint64> count(QStringView text, qint64 min, qint64 max);
// Digits with at most one decimal point, within [min, max]: finite and not negative.
std::optional<double> decimal(QStringView text, double min, double max);

} // namespace OptionValues
