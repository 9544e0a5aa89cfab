// SPDX-License-Identifier: MIT
#include "chat/ChatRules.h"

#include "net/Protocol.h"
#include "net/ShownBytes.h"

#include <algorithm>

namespace ChatRules {

namespace {

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
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

std::optional<QByteArray> pieceRefusal(QByteArrayView text)
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

QList<QByteArrayView> pieces(QByteArrayView text, qsizetype bound)
{
    QList<QByteArrayView> out;
    while (text.size() > bound) {
        // The blank the cut falls on goes with it; the line break stands for it.
        const qsizetype blank = text.first(bound + 1).lastIndexOf(' ');
        const qsizetype length = blank > 0 ? blank : bound;
        out.append(text.first(length));
        text = text.sliced(blank > 0 ? blank + 1 : length);
    }
    if (!text.isEmpty() || out.isEmpty())
        out.append(text);
    return out;
}

std::optional<QByteArray> refusal(QByteArrayView text)
{
    for (const QByteArrayView piece : pieces(text)) {
        if (auto why = pieceRefusal(piece))
            return why;
    }
    return std::nullopt;
}

qsizetype roomFor(QByteArrayView name)
{
    // Marker, "[", the name, "] - ", the text, CR LF.
    return Protocol::MaxPacket - 1 - 1 - name.size() - 4 - 2;
}

Outgoing outgoing(QByteArrayView name, QByteArrayView text)
{
    Outgoing out;
    const qsizetype room = roomFor(name);
    if (room < MaxRelayedText) {
        out.refusal = "Not sent: the name leaves no room for a line";
        return out;
    }
    // Every piece is judged before any goes: half a text sent is as lost
    // as none.
    for (const QByteArrayView piece : pieces(text, room)) {
        if (auto why = refusal(piece)) {
            out.refusal = *why;
            out.texts.clear();
            return out;
        }
        out.texts.append(piece.toByteArray());
    }
    return out;
}

} // namespace ChatRules
