// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QPixmap>
#include <QString>

// The store of the twelve avatar sprites, loaded from the program's resources
// when it is created. The window creates it on the first sprite lookup.
class Graphix
{
public:
    Graphix();
    // A null pixmap for a name that is not a sprite.
    QPixmap sprite(QStringView name) const;

    static QString resourcePath(QStringView name);

private:
    QHash<QString, QPixmap> m_sprites;
};
