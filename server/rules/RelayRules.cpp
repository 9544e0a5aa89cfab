// SPDX-License-Identifier: MIT
#include "server/rules/RelayRules.h"

#include "chat/ChatRules.h"
#include "net/Digits.h"
#include "net/Protocol.h"
#include "net/ShownBytes.h"
#include "stage/Roster.h"

#include <optional>

namespace RelayRules {

namespace {

constexpr qsizetype MaxNoticeName = 64;

// A whole number with an optional leading "-", as the client writes positions.
bool skipNumber(QStringView &rest)
{
    const qsizetype sign = rest.startsWith(u'-') ? 1 : 0;
    const qsizetype digits = Digits::leading(rest.mid(sign));
    if (digits == 0)
        return false;
    rest = rest.mid(sign + digits);
    return true;
}

bool skip(QStringView &rest, QStringView word)
{
    if (!rest.startsWith(word))
        return false;
    rest = rest.mid(word.size());
    return true;
}

bool isActionShape(QByteArrayView body, int number)
{
    if (body.size() > MaxActionPacket || number < 0 || number > 9)
        return false;
    const QString text = QString::fromLatin1(body);
    const QChar digit(u'0' + number);
    QStringView rest = text;
    if (!skip(rest, Protocol::Action) || !skip(rest, QStringView(&digit, 1)))
        return false;
    const bool move = skip(rest, Protocol::GoLeft) || skip(rest, Protocol::GoRight);
    if (!move && !skip(rest, Protocol::StLeft) && !skip(rest, Protocol::StRight))
        return false;
    if (!Roster::byCode(rest.left(5)))
        return false;
    rest = rest.mid(5);
    if (!skip(rest, Protocol::XMark) || !skipNumber(rest))
        return false;
    if (move && (!skip(rest, Protocol::YMark) || !skipNumber(rest) || !skip(rest, Protocol::ZMark)))
        return false;
    return rest.isEmpty();
}

} // namespace

Verdict judge(QByteArrayView body, int number, QByteArrayView name, QByteArrayView shownName)
{
    if (body.startsWith("Action"))
        return {isActionShape(body, number) ? Verdict::Relay : Verdict::NotOwn, {}};
    auto text = chatText(body, name);
    if (!text && !shownName.isNull())
        text = chatText(body, shownName);
    if (!text)
        return {};
    if (auto why = ChatRules::refusal(*text))
        return {Verdict::Refused, *why};
    return {Verdict::Relay, {}};
}

std::optional<QByteArrayView> chatText(QByteArrayView body, QByteArrayView name)
{
    const qsizetype prefix = 1 + name.size() + 4;
    if (body.size() < prefix + 2 || body[0] != '[' || body.sliced(1, name.size()) != name ||
        body.sliced(1 + name.size(), 4) != QByteArrayView("] - ") || !body.endsWith("\r\n"))
        return std::nullopt;
    return body.sliced(prefix, body.size() - prefix - 2);
}

QByteArray chatLine(QByteArrayView name, QByteArrayView text)
{
    QByteArray line;
    line.reserve(name.size() + text.size() + 8);
    line += '[';
    line += name;
    line += "] - ";
    line += text;
    line += "\r\n";
    line += '\0';
    return line;
}

bool isPresenceAnswer(QByteArrayView body)
{
    return body.size() > 13 && body.startsWith("Action") &&
           (body.sliced(7).startsWith("StLeft") || body.sliced(7).startsWith("StRight"));
}

QList<QByteArray> relayedLines(QByteArrayView body, QByteArrayView name, QByteArrayView shownName)
{
    auto text = chatText(body, name);
    if (!text)
        text = chatText(body, shownName);
    QList<QByteArray> lines;
    if (text) {
        for (const QByteArrayView piece : ChatRules::pieces(*text))
            lines.append(chatLine(shownName, piece));
    }
    return lines;
}

QByteArray wireCodeOf(QByteArrayView action)
{
    const QByteArrayView command = action.sliced(7);
    const qsizetype length = command.startsWith("GoRight") || command.startsWith("StRight") ? 7 : 6;
    return command.sliced(length, 5).toByteArray();
}

QByteArray offStageStep(int number, QByteArrayView code)
{
    const QByteArray shown =
        code.isEmpty() ? Roster::rows()[Roster::DefaultRow].code.toLatin1() : code.toByteArray();
    return "Action" + QByteArray::number(number) + "GoLeft" + shown + "X-999Y480Z" + '\0';
}

QByteArray notice(QByteArrayView text)
{
    return chatLine(NoticeSender, text);
}

QByteArray noticeName(QByteArrayView name)
{
    if (name.isEmpty())
        return QByteArrayLiteral("Someone without a name");
    QByteArray out = name.first(std::min(name.size(), MaxNoticeName)).toByteArray();
    for (char &c : out) {
        // Brackets would frame a speaker's name of their own.
        if (ShownBytes::isInvisible(static_cast<unsigned char>(c)) || c == '[' || c == ']')
            c = '?';
    }
    if (name.size() > MaxNoticeName)
        out += "...";
    return out;
}

} // namespace RelayRules
