// SPDX-License-Identifier: MIT
#include "app/PictureListAccessible.h"

#include "app/ImageControl.h"
#include "app/PictureBox.h"

PictureListAccessible::PictureListAccessible(PictureBox *box)
    : QAccessibleWidget(box, QAccessible::List)
{}

PictureBox *PictureListAccessible::box() const
{
    return static_cast<PictureBox *>(widget());
}

int PictureListAccessible::childCount() const
{
    return int(box()->items().size());
}

QAccessibleInterface *PictureListAccessible::child(int index) const
{
    const QList<ImageControl *> items = box()->items();
    if (index < 0 || index >= items.size())
        return nullptr;
    return QAccessible::queryAccessibleInterface(items[index]);
}

int PictureListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child)
        return -1;
    return int(box()->items().indexOf(qobject_cast<ImageControl *>(child->object())));
}

QAccessibleInterface *PictureListAccessible::childAt(int x, int y) const
{
    for (ImageControl *item : box()->items()) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item);
        if (iface && iface->rect().contains(x, y))
            return iface;
    }
    return nullptr;
}
