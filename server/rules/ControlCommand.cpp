// SPDX-License-Identifier: MIT
#include "server/rules/ControlCommand.h"

#include <array>

namespace ControlCommand {

namespace {

struct Shape
{
    Action action;
    const char *name;
    const char *arguments;
    bool needsTarget;
    bool takesDuration;
    bool needsText;
};

constexpr std::array<Shape, ActionCount> Shapes = {{
    {Action::Who, "who", "", false, false, false},
    {Action::Status, "status", "", false, false, false},
    {Action::Kick, "kick", " N [REASON]", true, false, false},
    {Action::Mute, "mute", " N [DURATION] [REASON]", true, true, false},
    {Action::Unmute, "unmute", " N", true, false, false},
    {Action::Ban, "ban", " N|ADDRESS|PREFIX|NAME [DURATION] [REASON]", true, true, false},
    {Action::Unban, "unban", " ADDRESS|PREFIX|NAME", true, false, false},
    {Action::Bans, "bans", "", false, false, false},
    {Action::Say, "say", " TEXT", false, false, true},
    {Action::Close, "close", " [REASON]", false, false, false},
    {Action::Open, "open", "", false, false, false},
}};

// The first word of `rest`, and `rest` moved past it and the blanks after.
QStringView nextWord(QStringView &rest)
{
    const qsizetype end = rest.indexOf(u' ');
    const QStringView word = end < 0 ? rest : rest.first(end);
    rest = end < 0 ? QStringView() : rest.sliced(end).trimmed();
    return word;
}

bool takesNoMore(Action action)
{
    return action == Action::Who || action == Action::Status || action == Action::Bans ||
           action == Action::Open || action == Action::Unmute || action == Action::Unban;
}

} // namespace

std::variant<Command, QString> parse(QStringView line)
{
    if (line.size() >= MaxLine)
        return QStringLiteral("the line is longer than %1 bytes").arg(MaxLine - 1);
    for (QChar c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("the line holds a control character");
    }
    QStringView rest = line.trimmed();
    Command command;
    QStringView word = nextWord(rest);
    if (word == u"json") {
        command.json = true;
        word = nextWord(rest);
    }
    if (word.isEmpty())
        return QStringLiteral("no command: try who, status or bans");
    const auto shape = std::find_if(Shapes.begin(), Shapes.end(), [&](const Shape &candidate) {
        return word == QLatin1StringView(candidate.name);
    });
    if (shape == Shapes.end())
        return QStringLiteral("unknown command \"%1\": the commands are %2")
            .arg(word.left(40).toString(), usage().join(QStringLiteral(", ")));
    command.action = shape->action;
    const QString usageLine = QLatin1StringView(shape->name) + QLatin1StringView(shape->arguments);
    if (shape->needsTarget) {
        command.target = nextWord(rest).toString();
        if (command.target.isEmpty())
            return QStringLiteral("usage: %1").arg(usageLine);
        const bool byNumber = command.action == Action::Kick || command.action == Action::Mute ||
                              command.action == Action::Unmute;
        if (byNumber && !clientNumber(command.target))
            return QStringLiteral("\"%1\" is no client number: a number is 0 to 9")
                .arg(command.target.left(40));
    }
    if (shape->takesDuration && !rest.isEmpty()) {
        QStringView after = rest;
        const QStringView first = nextWord(after);
        if (const auto ms = durationMs(first)) {
            command.durationMs = *ms;
            rest = after;
        } else if (!first.isEmpty() && first.front().isDigit()) {
            return QStringLiteral("\"%1\" is no duration: say 90s, 10m, 2h or 7d, a year at most")
                .arg(first.left(40).toString());
        }
    }
    if (takesNoMore(command.action) && !rest.isEmpty())
        return QStringLiteral("usage: %1").arg(usageLine);
    command.text = rest.toString();
    if (shape->needsText && command.text.isEmpty())
        return QStringLiteral("usage: %1").arg(usageLine);
    return command;
}

std::optional<qint64> durationMs(QStringView text)
{
    if (text.size() < 2 || text.size() > 12)
        return std::nullopt;
    qint64 unitMs = 0;
    switch (text.back().unicode()) {
    case 's':
        unitMs = 1000;
        break;
    case 'm':
        unitMs = 60 * 1000;
        break;
    case 'h':
        unitMs = 3600 * 1000;
        break;
    case 'd':
        unitMs = 24 * 3600 * 1000;
        break;
    default:
        return std::nullopt;
    }
    qint64 count = 0;
    for (QChar c : text.chopped(1)) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        count = count * 10 + (c.unicode() - '0');
        if (count * unitMs > MaxDurationMs)
            return std::nullopt;
    }
    if (count == 0)
        return std::nullopt;
    return count * unitMs;
}

QString name(Action action)
{
    return QLatin1StringView(Shapes[std::size_t(action)].name);
}

QStringList usage()
{
    QStringList lines;
    for (const Shape &shape : Shapes)
        lines << QLatin1StringView(shape.name) + QLatin1StringView(shape.arguments);
    return lines;
}

std::optional<int> clientNumber(QStringView text)
{
    if (text.size() != 1 || text.front() < u'0' || text.front() > u'9')
        return std::nullopt;
    return text.front().unicode() - '0';
}

} // namespace ControlCommand
