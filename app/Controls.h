// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QRect>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The kinds of control the windows are made of, as the layout describes them.
namespace Controls {

void setColours(QWidget *widget, const QColor &background, const QColor &text);
// A chat box's colours fill its inside; its frame keeps the system's colours,
// not those of the window it stands on.
void setBoxColours(QWidget *box, const QColor &background, const QColor &text);
// Labels show text as plain text only: several of them show what the server sent.
QLabel *label(QWidget *parent, const QString &name, QRect pixels, const QString &caption,
              bool opaque = false);
void setBordered(QLabel *label);
QPushButton *button(QWidget *parent, const QString &name, QRect pixels, const QString &caption);
QLineEdit *textBox(QWidget *parent, const QString &name, QRect pixels);

} // namespace Controls
