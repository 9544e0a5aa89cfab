// SPDX-License-Identifier: MIT
#include "stage/Roster.h"

const std::array<AvatarRow, 6> &Roster::rows()
{
    static const std::array<AvatarRow, 6> table = {{
        {u"Tavro", u"Tavro", u"Tavro", {u"TavroRight", {15, 27}}, {u"TavroLeft", {16, 27}}},
        {u"Gimbo", u"Gimbo", u"Gimbo", {u"GimboRight", {15, 31}}, {u"GimboLeft", {15, 31}}},
        {u"Nubo", u"Nubo", u"Nubo ", {u"NuboRight", {16, 27}}, {u"NuboLeft", {16, 27}}},
        {u"Sorra", u"Sorra", u"Sorra", {u"SorraRight", {14, 32}}, {u"SorraLeft", {14, 32}}},
        {u"Veck", u"Veck", u"Veck ", {u"VeckRight", {16, 32}}, {u"VeckLeft", {16, 32}}},
        {u"Jaxorin", u"Jaxorin", u"Jaxo ", {u"JaxoRight", {21, 27}}, {u"JaxoLeft", {21, 27}}},
    }};
    return table;
}

const AvatarRow *Roster::byCode(QStringView code)
{
    for (const AvatarRow &row : rows()) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

const AvatarRow *Roster::byCode(QLatin1StringView code)
{
    for (const AvatarRow &row : rows()) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

const AvatarRow *Roster::bySelection(QStringView selection)
{
    for (const AvatarRow &row : rows()) {
        if (row.selection == selection)
            return &row;
    }
    return nullptr;
}

const AvatarRow *Roster::bySprite(QStringView spriteName)
{
    for (const AvatarRow &row : rows()) {
        if (row.right.name == spriteName || row.left.name == spriteName)
            return &row;
    }
    return nullptr;
}
