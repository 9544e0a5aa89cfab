// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>
#include <variant>

// One line an operator sends on the control socket, read into what it asks:
//   [json] who | status | bans | open
//   [json] kick N [REASON]
//   [json] mute N [DURATION] [REASON] | unmute N
//   [json] ban N|ADDRESS|PREFIX|NAME [DURATION] [REASON] | unban ADDRESS|PREFIX|NAME
//   [json] say TEXT | close [REASON]
// A DURATION is a whole number and a unit: 90s, 10m, 2h, 7d. "json" asks for
// the answer as one line of JSON.
namespace ControlCommand {

enum class Action
{
    Who,
    Status,
    Kick,
    Mute,
    Unmute,
    Ban,
    Unban,
    Bans,
    Say,
    Close,
    Open,
};
inline constexpr int ActionCount = int(Action::Open) + 1;

// A line may be at most this long, its line feed counted.
inline constexpr qsizetype MaxLine = 1024;
// The longest duration taken: a year.
inline constexpr qint64 MaxDurationMs = 365LL * 24 * 3600 * 1000;

struct Command
{
    Action action = Action::Who;
    QString target;                   // a client number, an address, a prefix or a name
    std::optional<qint64> durationMs; // none: until undone
    QString text;                     // the reason, or what to say
    bool json = false;
};

// The command, or why the line is not one.
std::variant<Command, QString> parse(QStringView line);
// "90s", "10m", "2h", "7d"; nothing for anything else, or past a year.
std::optional<qint64> durationMs(QStringView text);
// As the command is written, and as the figures label it.
QString name(Action action);
// The commands, each with its arguments, for an error's help.
QStringList usage();
// A client number on the stage, 0 to 9, written as one digit.
std::optional<int> clientNumber(QStringView text);

} // namespace ControlCommand
