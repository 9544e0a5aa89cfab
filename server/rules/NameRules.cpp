// SPDX-License-Identifier: MIT
#include "server/rules/NameRules.h"

#include "net/ShownBytes.h"
#include "server/rules/LookAlike.h"
#include "server/rules/RelayRules.h"

namespace NameRules {

std::optional<QByteArray> refusal(QByteArrayView name, const LookAlike &lookAlike)
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
    // Nor anything that begins like it: "Quandrel 2" or "Quandrel²" would
    // read as the stage speaking.
    if (lookAlike.of(name).startsWith(lookAlike.of(RelayRules::NoticeSender)))
        return "The name " + shown + " is kept for the stage's own notices";
    return std::nullopt;
}

QByteArray shownName(QByteArrayView name, const std::function<bool(QByteArrayView)> &taken)
{
    if (!taken(name))
        return name.toByteArray();
    QByteArrayView base = name;
    while (base.endsWith(' '))
        base.chop(1);
    // Each number tried is taken by at most one other name on a stage of ten.
    for (int number = 2;; ++number) {
        const QByteArray suffix = QByteArray::number(number);
        QByteArrayView cut = base.first(std::min(base.size(), MaxLength - suffix.size() - 1));
        while (cut.endsWith(' '))
            cut.chop(1);
        const QByteArray shown = cut.isEmpty() ? suffix : cut.toByteArray() + ' ' + suffix;
        if (!taken(shown))
            return shown;
    }
}

QByteArray shownNotice(QByteArrayView name, QByteArrayView shown)
{
    return "Someone called " + RelayRules::noticeName(name) +
           " is already here: the stage knows you as " + RelayRules::noticeName(shown);
}

} // namespace NameRules
