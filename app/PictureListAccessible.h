// SPDX-License-Identifier: MIT
#pragma once

#include <QAccessibleWidget>

class PictureBox;

// A picture box as a screen reader reads it: a list whose items are the
// pictures the box names (PictureBox::setItems), nothing else of its inside.
class PictureListAccessible : public QAccessibleWidget
{
public:
    explicit PictureListAccessible(PictureBox *box);

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

private:
    PictureBox *box() const;
};
