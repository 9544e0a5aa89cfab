// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>
#include <optional>

// ASCII decimal digits, the only digits the protocol knows.
namespace Digits {

// How many ASCII digits the text starts with.
qsizetype leading(QStringView text);
// The value of a text that is one to nine ASCII digits and nothing else.
std::optional<int> value(QStringView text);

} // namespace Digits
