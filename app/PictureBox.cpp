#include "app/PictureBox.h"

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
