// SPDX-License-Identifier: MIT
#include "app/Controls.h"

#include "app/ChatColours.h"
#include "app/CommandButton.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

void Controls::setColours(QWidget *widget, const QColor &background, const QColor &text)
{
    QPalette p = widget->palette();
    if (background.isValid())
        p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, text);
    widget->setPalette(p);
}

void Controls::setBoxColours(QWidget *box, const QColor &background, const QColor &text)
{
    const QPalette system = QApplication::palette();
    QPalette p;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            p.setBrush(g, r, system.brush(g, r)); // set, so not taken from the window
        }
    }
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Text, text);
    box->setPalette(p);
}

QLabel *Controls::label(QWidget *parent, const QString &name, QRect pixels, const QString &caption,
                        bool opaque)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(pixels);
    label->setAutoFillBackground(opaque);
    return label;
}

void Controls::setBordered(QLabel *label)
{
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
}

QPushButton *Controls::button(QWidget *parent, const QString &name, QRect pixels,
                              const QString &caption)
{
    auto *button = new CommandButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(pixels);
    return button;
}

QLineEdit *Controls::textBox(QWidget *parent, const QString &name, QRect pixels)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(pixels);
    setBoxColours(box, ChatColours::Background, ChatColours::Text);
    return box;
}
