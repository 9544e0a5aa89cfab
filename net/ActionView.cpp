// SPDX-License-Identifier: MIT
#include "net/ActionView.h"

#include "net/Protocol.h"

#include <array>
#include <utility>

namespace {

using Command = ActionView::Command;

constexpr std::array<std::pair<QLatin1StringView, Command>, 4> Commands = {{
    {Protocol::GoLeft, Command::GoLeft},
    {Protocol::GoRight, Command::GoRight},
    {Protocol::StLeft, Command::StLeft},
    {Protocol::StRight, Command::StRight},
}};

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool skipWord(QByteArrayView &rest, QLatin1StringView word)
{
    if (!rest.startsWith(Protocol::bytes(word)))
        return false;
    rest = rest.sliced(word.size());
    return true;
}

// A whole number with an optional leading "-", as clients write positions.
std::optional<QByteArrayView> takeNumber(QByteArrayView &rest)
{
    qsizetype length = rest.startsWith('-') ? 1 : 0;
    const qsizetype digitsFrom = length;
    while (length < rest.size() && isAsciiDigit(rest[length]))
        ++length;
    if (length == digitsFrom)
        return std::nullopt;
    const QByteArrayView taken = rest.first(length);
    rest = rest.sliced(length);
    return taken;
}

} // namespace

bool ActionView::isAction(QByteArrayView packet)
{
    return packet.startsWith(Protocol::bytes(Protocol::Action));
}

std::optional<int> ActionView::senderOf(QByteArrayView packet)
{
    if (!isAction(packet) || packet.size() <= NumberAt || !isAsciiDigit(packet[NumberAt]))
        return std::nullopt;
    return packet[NumberAt] - '0';
}

bool ActionView::isStepPacket(QByteArrayView packet)
{
    return senderOf(packet) && packet.sliced(CommandAt).startsWith("Go");
}

std::optional<ActionView> ActionView::parse(QByteArrayView packet)
{
    if (packet.endsWith('\0'))
        packet.chop(1);
    const auto sender = senderOf(packet);
    if (!sender)
        return std::nullopt;
    ActionView view;
    view.number = *sender;
    QByteArrayView rest = packet.sliced(CommandAt);
    bool known = false;
    for (const auto &[word, command] : Commands) {
        if (skipWord(rest, word)) {
            view.command = command;
            known = true;
            break;
        }
    }
    if (!known || rest.size() < CodeLength)
        return std::nullopt;
    view.code = rest.first(CodeLength);
    rest = rest.sliced(CodeLength);
    const auto x = skipWord(rest, Protocol::XMark) ? takeNumber(rest) : std::nullopt;
    if (!x)
        return std::nullopt;
    view.x = *x;
    if (view.isStep()) {
        const auto y = skipWord(rest, Protocol::YMark) ? takeNumber(rest) : std::nullopt;
        if (!y || !skipWord(rest, Protocol::ZMark))
            return std::nullopt;
        view.y = *y;
    }
    if (!rest.isEmpty())
        return std::nullopt;
    return view;
}
