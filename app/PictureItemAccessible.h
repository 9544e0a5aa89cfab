// SPDX-License-Identifier: MIT
#pragma once

#include <QAccessibleWidget>

class ImageControl;

// A picture of a list (see PictureListAccessible) as a screen reader reads
// it: an item named by the window, selected when chosen, and pressed, when
// it can be clicked, as a click would.
class PictureItemAccessible : public QAccessibleWidget
{
public:
    explicit PictureItemAccessible(ImageControl *image);

    QAccessibleInterface *parent() const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

private:
    ImageControl *image() const;
};
