// SPDX-License-Identifier: MIT
#include "app/Accessibility.h"

#include "app/ImageControl.h"
#include "app/PictureBox.h"
#include "app/PictureButtonAccessible.h"
#include "app/PictureItemAccessible.h"
#include "app/PictureListAccessible.h"

#include <QAccessible>

namespace {

QAccessibleInterface *interfaceFor(const QString &, QObject *object)
{
    if (auto *box = qobject_cast<PictureBox *>(object); box && box->isList())
        return new PictureListAccessible(box);
    // One that takes the focus of its own is pressed like a button.
    if (auto *box = qobject_cast<PictureBox *>(object);
        box && box->focusPolicy() == Qt::StrongFocus)
        return new PictureButtonAccessible(box);
    if (auto *image = qobject_cast<ImageControl *>(object); image && image->list())
        return new PictureItemAccessible(image);
    return nullptr;
}

} // namespace

void Accessibility::install()
{
    QAccessible::installFactory(interfaceFor); // Qt adds a factory once
}
