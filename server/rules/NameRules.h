// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

class LookAlike;

// Which names may join. A name shows in every chat line and notice, so it
// must not be able to pose as the server, as someone already on the stage,
// or as a second line.
namespace NameRules {

inline constexpr qsizetype MaxLength = 32;

// Why the name cannot be used whatever else is on the stage, in plain words
// for a notice; nothing when it can. A name may be empty. `lookAlike` tells
// whether it would pose as the stage's own notices.
std::optional<QByteArray> refusal(QByteArrayView name, const LookAlike &lookAlike);

} // namespace NameRules
