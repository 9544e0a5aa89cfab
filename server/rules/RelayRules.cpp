// SPDX-License-Identifier: MIT
#include "server/rules/RelayRules.h"

#include "net/Digits.h"
#include "net/Protocol.h"
#include "server/rules/ShownBytes.h"
#include "stage/Roster.h"

#include <optional>

#include <algorithm>

namespace RelayRules {

namespace {

constexpr qsizetype MaxNoticeName = 64;

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

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

// A byte no chat line may hold: a control byte other than tab, DEL, or one
// Windows-1252 leaves undefined.
bool isControl(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b != '\t' && b != 0xA0 && b != 0xAD && ShownBytes::isInvisible(b);
}

// The line as a reader sees it, for what it could pass for: every blank
// (tab and no-break space too) and every run of them one blank, every dash
// a hyphen, and what shows as nothing left out.
QByteArray lookOfLine(QByteArrayView text)
{
    QByteArray look;
    look.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b == ' ' || b == '\t' || b == 0xA0) {
            if (!look.endsWith(' '))
                look += ' ';
        } else if (b == 0x96 || b == 0x97) { // en and em dash
            look += '-';
        } else if (!ShownBytes::isInvisible(b)) {
            look += c;
        }
    }
    return look;
}

// Why a chat text of the sender's own could pass for something else.
std::optional<QByteArray> chatRefusal(QByteArrayView text)
{
    if (std::any_of(text.begin(), text.end(), isLineBreak))
        return QByteArray("Not sent: a line cannot hold a line break");
    if (std::any_of(text.begin(), text.end(), isControl))
        return QByteArray("Not sent: a line cannot hold a control character");
    if (lookOfLine(text).contains("] - "))
        return QByteArray("Not sent: \"] - \" would look like someone else speaking");
    for (const char *word : {"NewUser", "ClientNumber"}) {
        if (text.contains(word))
            return "Not sent: \"" + QByteArray(word) + "\" is a word of the stage's own";
    }
    for (qsizetype at = text.indexOf("Action"); at >= 0; at = text.indexOf("Action", at + 1)) {
        if (at + 6 < text.size() && text[at + 6] >= '0' && text[at + 6] <= '9')
            return QByteArray("Not sent: \"Action\" and a digit are a word of the stage's own");
    }
    return std::nullopt;
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
    for (const QByteArrayView piece : chatPieces(*text)) {
        if (auto why = chatRefusal(piece))
            return {Verdict::Refused, *why};
    }
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

QList<QByteArrayView> chatPieces(QByteArrayView text)
{
    QList<QByteArrayView> pieces;
    while (text.size() > MaxChatText) {
        // The blank the cut falls on goes with it; the line break stands for it.
        const qsizetype blank = text.first(MaxChatText + 1).lastIndexOf(' ');
        const qsizetype length = blank > 0 ? blank : MaxChatText;
        pieces.append(text.first(length));
        text = text.sliced(blank > 0 ? blank + 1 : length);
    }
    if (!text.isEmpty() || pieces.isEmpty())
        pieces.append(text);
    return pieces;
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
        for (const QByteArrayView piece : chatPieces(*text))
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
