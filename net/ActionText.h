// SPDX-License-Identifier: MIT
#pragma once

#include <QLatin1StringView>
#include <QStringView>
#include <optional>

// A received text read as the desktop client reads an Action packet: by
// fixed positions from its start, whatever the rest holds (see ActionView
// for the shape a client sends). Positions count from 1: the sender's number
// at 7, the command at 8, the wire code after a command of six or seven
// letters (at 14 or 15), and the left edge after "X".
namespace ActionText {

// The digit at position 7.
std::optional<int> number(QStringView text);
// Whether the command at position 8 is `word`.
bool commandIs(QStringView text, QLatin1StringView word);
// The five characters where the wire code stands after a command of
// `commandLength` letters.
QStringView codeAfter(QStringView text, qsizetype commandLength);
// A step's left edge: one to four characters between "X" and "Y", where the
// two stand after a command of six or seven letters. Nothing when no such
// edge is a number.
std::optional<float> stepLeft(QStringView text);
// A presence answer's left edge: all that follows its "X", up to four digits
// with an optional "-". `sevenLetters` for "StRight".
std::optional<float> presenceLeft(QStringView text, bool sevenLetters);

} // namespace ActionText
