// SPDX-License-Identifier: MIT
#include "server/rules/NameRules.h"

#include "net/Cp1252.h"
#include "server/rules/RelayRules.h"
#include "server/rules/ShownBytes.h"

namespace NameRules {

namespace {

QChar confusedWith(QChar c)
{
    switch (c.unicode()) {
    case u'0':
        return u'o';
    case u'1':
    case u'i':
    case u'|':
        return u'l';
    case u'5':
        return u's';
    default:
        return c;
    }
}

} // namespace

QString lookAlike(QByteArrayView name)
{
    const QString folded =
        Cp1252::decode(name).toCaseFolded().normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(folded.size());
    for (const QChar c : folded) {
        if (c.isSpace() || c.isMark() || c.category() == QChar::Other_Format)
            continue;
        out += confusedWith(c.toCaseFolded());
    }
    return out;
}

std::optional<QByteArray> refusal(QByteArrayView name)
{
    const QByteArray shown = RelayRules::noticeName(name);
    if (name.size() > MaxLength)
        return "The name " + shown + " is longer than " + QByteArray::number(MaxLength) +
               " characters";
    for (const char c : name) {
        if (ShownBytes::isInvisible(static_cast<unsigned char>(c)))
            return "The name " + shown + " holds a character that does not show";
    }
    if (name.contains('[') || name.contains(']'))
        return "The name " + shown + " holds a bracket";
    if (lookAlike(name) == lookAlike(RelayRules::NoticeSender))
        return "The name " + shown + " is kept for the stage's own notices";
    return std::nullopt;
}

} // namespace NameRules
