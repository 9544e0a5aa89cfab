// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>
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

// The name the stage shows a joiner under: its own when `taken` says no one
// on the stage looks like it; otherwise the name without trailing blanks, a
// blank and the lowest number from 2 that `taken` lets through, the name cut
// so that the whole fits MaxLength ("Gimbo 2"; an empty name gives "2").
QByteArray shownName(QByteArrayView name, const std::function<bool(QByteArrayView)> &taken);
// What one who joined as `name` is told of the name it is shown under.
QByteArray shownNotice(QByteArrayView name, QByteArrayView shown);

} // namespace NameRules
