// SPDX-License-Identifier: MIT
#include "app/PictureBox.h"

#include <QKeyEvent>
#include <QMouseEvent>

PictureBox::PictureBox(QWidget *parent, const QString &name, const QRect &pixels)
    : QFrame(parent), m_inner(new QWidget(this))
{
    setObjectName(name);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setGeometry(pixels);
    setAutoFillBackground(true);
    m_inner->setGeometry(contentsRect());
}

QColor PictureBox::BackColor() const
{
    return palette().color(QPalette::Window);
}

void PictureBox::setBackColor(const QColor &colour)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    setPalette(p);
}

void PictureBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Click();
    QFrame::mouseReleaseEvent(event);
}

void PictureBox::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    emit KeyDown(key);
    // A swatch with the focus is chosen with Space or Enter, like a button.
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
        emit Click();
        return;
    }
    QFrame::keyPressEvent(event);
}
