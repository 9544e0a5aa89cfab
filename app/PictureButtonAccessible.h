// SPDX-License-Identifier: MIT
#pragma once

#include <QAccessibleWidget>

class PictureBox;

// A picture box that is clicked to do something (a colour swatch) as a
// screen reader reads it: a button that its press action clicks.
class PictureButtonAccessible : public QAccessibleWidget
{
public:
    explicit PictureButtonAccessible(PictureBox *box);

    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
};
