// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

// Which names may join. A name shows in every chat line and notice, so it
// must not be able to pose as the server, as someone already on the stage,
// or as a second line.
namespace NameRules {

inline constexpr qsizetype MaxLength = 32;

// The form in which two names count as the same: Windows-1252 decoded,
// blanks removed, case folded, accents stripped, and the characters that
// are easily taken for one another made one (0 and o; 1, i, l and |; 5 and s).
QString lookAlike(QByteArrayView name);

// Why the name cannot be used whatever else is on the stage, in plain words
// for a notice; nothing when it can. A name may be empty.
std::optional<QByteArray> refusal(QByteArrayView name);

} // namespace NameRules
