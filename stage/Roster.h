// SPDX-License-Identifier: MIT
#pragma once

#include <QLatin1StringView>
#include <QSize>
#include <QStringView>
#include <array>

struct SpriteRef
{
    QStringView name; // resource name, e.g. "GimboLeft"
    QSize size;       // pixels
};

struct AvatarRow
{
    QStringView selection;   // the selection image on the main window
    QStringView displayName; // what the user reads
    QStringView code;        // 5 characters on the wire
    SpriteRef right;
    SpriteRef left;

    const SpriteRef &sprite(bool facingRight) const { return facingRight ? right : left; }
};

// The six avatars, in the fixed order in which codes are looked up.
namespace Roster {

inline constexpr int DefaultRow = 1; // Gimbo

const std::array<AvatarRow, 6> &rows();
// Exact and case-sensitive, blanks included; nullptr when no row has the code.
const AvatarRow *byCode(QStringView code);
// The same for a code as the wire's bytes.
const AvatarRow *byCode(QLatin1StringView code);
const AvatarRow *bySelection(QStringView selection);
// The row whose right or left sprite has this name.
const AvatarRow *bySprite(QStringView spriteName);

} // namespace Roster
