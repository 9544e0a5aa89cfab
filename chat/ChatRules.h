// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// What a chat line may hold, on the wire's bytes (Windows-1252). The server
// refuses a line that breaks these rules, and the clients hold each line to
// them before sending, so that a refused line is never gone from the box.
namespace ChatRules {

// The longest text one relayed line carries; longer texts travel in pieces.
inline constexpr qsizetype MaxRelayedText = 400;

// A text as pieces of at most `bound` bytes, each cut at the last blank
// before the bound where there is one (the blank itself dropped), that
// together carry every word in order.
QList<QByteArrayView> pieces(QByteArrayView text, qsizetype bound = MaxRelayedText);

// Why the text of one chat line could pass for something it is not (another
// speaker, a second packet, a word of the stage's own), in plain words for
// its sender; nothing when it may go out. Each relayed piece is judged.
std::optional<QByteArray> refusal(QByteArrayView text);

// The most text one chat line under `name` can carry within a packet.
qsizetype roomFor(QByteArrayView name);

// What a client sends for a text typed under `name`: the texts of one or more
// chat lines, each within a packet, or why none of it may go.
struct Outgoing
{
    QList<QByteArray> texts;
    QByteArray refusal; // empty when the texts may go
};
Outgoing outgoing(QByteArrayView name, QByteArrayView text);

} // namespace ChatRules
