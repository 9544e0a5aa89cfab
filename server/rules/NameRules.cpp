// SPDX-License-Identifier: MIT
#include "server/rules/NameRules.h"

#include "server/rules/LookAlike.h"
#include "server/rules/RelayRules.h"
#include "server/rules/ShownBytes.h"

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
    if (lookAlike.of(name) == lookAlike.of(RelayRules::NoticeSender))
        return "The name " + shown + " is kept for the stage's own notices";
    return std::nullopt;
}

} // namespace NameRules
