// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

// A button that Enter presses as well as Space, as users of the program's
// keyboard layout expect of every button.
class CommandButton : public QPushButton
{
    Q_OBJECT
public:
    CommandButton(const QString &caption, QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
