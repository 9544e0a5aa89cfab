// SPDX-License-Identifier: MIT
#include "app/Graphix.h"

#include "stage/Roster.h"

Graphix::Graphix()
{
    for (const AvatarRow &row : Roster::rows()) {
        for (const SpriteRef *ref : {&row.right, &row.left})
            m_sprites.insert(ref->name.toString(), QPixmap(resourcePath(ref->name), "GIF"));
    }
}

QPixmap Graphix::sprite(QStringView name) const
{
    return m_sprites.value(name.toString());
}

QString Graphix::resourcePath(QStringView name)
{
    return QStringLiteral(":/sprites/%1.gif").arg(name);
}
