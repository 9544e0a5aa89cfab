// SPDX-License-Identifier: MIT
#include "app/PictureButtonAccessible.h"

#include "app/PictureBox.h"

PictureButtonAccessible::PictureButtonAccessible(PictureBox *box)
    : QAccessibleWidget(box, QAccessible::Button)
{}

QStringList PictureButtonAccessible::actionNames() const
{
    return {pressAction()};
}

void PictureButtonAccessible::doAction(const QString &actionName)
{
    if (actionName == pressAction())
        emit static_cast<PictureBox *>(widget())->Click();
}
