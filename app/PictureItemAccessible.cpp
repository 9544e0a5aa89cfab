// SPDX-License-Identifier: MIT
#include "app/PictureItemAccessible.h"

#include "app/ImageControl.h"

PictureItemAccessible::PictureItemAccessible(ImageControl *image)
    : QAccessibleWidget(image, QAccessible::ListItem)
{}

ImageControl *PictureItemAccessible::image() const
{
    return static_cast<ImageControl *>(widget());
}

QAccessibleInterface *PictureItemAccessible::parent() const
{
    // The list is the box, not the inner widget the picture stands on.
    return QAccessible::queryAccessibleInterface(image()->list());
}

QAccessible::State PictureItemAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.selectable = image()->clickable();
    s.selected = image()->chosen();
    s.focused = image()->chosen() && image()->list()->hasFocus();
    return s;
}

QStringList PictureItemAccessible::actionNames() const
{
    return image()->clickable() ? QStringList{pressAction()} : QStringList();
}

void PictureItemAccessible::doAction(const QString &actionName)
{
    if (actionName == pressAction())
        image()->press();
}
