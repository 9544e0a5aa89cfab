// SPDX-License-Identifier: MIT
#include "server/rules/RelayRules.h"

#include "chat/ChatRules.h"
#include "net/ActionView.h"
#include "net/PacketBytes.h"
#include "net/Protocol.h"
#include "net/ShownBytes.h"
#include "stage/Roster.h"

#include <optional>

namespace RelayRules {

namespace {

constexpr qsizetype MaxNoticeName = 64;

// A step or presence answer in the exact shape of the sender's own client:
// under its own number, with a known avatar.
std::optional<ActionView> ownAction(QByteArrayView body, int number)
{
    if (body.size() > MaxActionPacket)
        return std::nullopt;
    const auto action = ActionView::parse(body);
    if (!action || action->number != number ||
        !Roster::byCode(QLatin1StringView(action->code.data(), action->code.size())))
        return std::nullopt;
    return action;
}

} // namespace

Verdict judge(QByteArrayView body, int number, QByteArrayView name, QByteArrayView shownName)
{
    if (ActionView::isAction(body)) {
        const auto action = ownAction(body, number);
        return action ? Verdict{Verdict::Relay, {}, action->code} : Verdict{};
    }
    auto text = chatText(body, name);
    if (!text && !shownName.isNull())
        text = chatText(body, shownName);
    if (!text)
        return {};
    if (auto why = ChatRules::refusal(*text))
        return {Verdict::Refused, *why, {}};
    return {Verdict::Relay, {}, {}};
}

std::optional<QByteArrayView> chatText(QByteArrayView body, QByteArrayView name)
{
    const QByteArray head = PacketBytes::chatLine(name, {});
    const QByteArrayView end = Protocol::bytes(Protocol::LineEnd);
    const qsizetype prefix = head.size() - end.size();
    if (body.size() < head.size() || !body.startsWith(head.first(prefix)) || !body.endsWith(end))
        return std::nullopt;
    return body.sliced(prefix, body.size() - head.size());
}

QByteArray chatLine(QByteArrayView name, QByteArrayView text)
{
    return PacketBytes::chatLine(name, text) + '\0';
}

bool isPresenceAnswer(QByteArrayView body)
{
    const auto action = ActionView::parse(body);
    return action && !action->isStep();
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

QByteArray offStageStep(int number, QByteArrayView code)
{
    const QByteArray shown =
        code.isEmpty() ? Roster::rows()[Roster::DefaultRow].code.toLatin1() : code.toByteArray();
    return PacketBytes::action(QByteArray::number(number), ActionView::Command::GoLeft, shown,
                               "-999", "480") +
           '\0';
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
