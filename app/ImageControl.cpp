// SPDX-License-Identifier: MIT
#include "app/ImageControl.h"

#include "stage/Twips.h"

#include <QAccessible>
#include <QMouseEvent>
#include <QPainter>

ImageControl::ImageControl(QWidget *container, const QString &name, float left, float top,
                           float width, float height)
    : QWidget(container), m_left(left), m_top(top), m_width(width), m_height(height)
{
    setObjectName(name);
    setAttribute(Qt::WA_TranslucentBackground);
    place();
}

void ImageControl::setLeft(float twips)
{
    if (twips == m_left)
        return;
    m_left = twips;
    place();
    emit moved();
}

void ImageControl::setTop(float twips)
{
    if (twips == m_top)
        return;
    m_top = twips;
    place();
}

void ImageControl::assignSprite(const SpriteRef &sprite)
{
    if (sprite.name == m_pictureName)
        return; // already showing it
    m_pictureName = sprite.name.toString();
    if (m_spriteSource)
        setPicture(m_spriteSource(sprite));
    if (m_picture.isNull()) { // no pixels to hand: still take the sprite's size
        m_width = sprite.size.width() * Twips::PerPixel;
        m_height = sprite.size.height() * Twips::PerPixel;
        place();
    }
}

void ImageControl::follow(const AvatarImage &image)
{
    if (!image.sprite().name.isEmpty())
        assignSprite(image.sprite());
    setLeft(image.Left());
    setTop(image.Top());
    setVisible(image.visible());
}

void ImageControl::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    if (!m_stretch && !picture.isNull()) {
        m_width = picture.width() * Twips::PerPixel;
        m_height = picture.height() * Twips::PerPixel;
    }
    place();
    update();
}

void ImageControl::setClickable(bool clickable)
{
    m_clickable = clickable;
    setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void ImageControl::press()
{
    if (m_clickable)
        emit Click();
}

void ImageControl::setChosen(bool chosen)
{
    if (chosen == m_chosen)
        return;
    m_chosen = chosen;
    QAccessible::State changed;
    changed.selected = changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void ImageControl::place()
{
    const QRect pixels = Twips::toPixels(m_left, m_top, m_width, m_height);
    if (pixels != geometry())
        setGeometry(pixels);
}

void ImageControl::paintEvent(QPaintEvent *)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    if (m_stretch)
        painter.drawPixmap(rect(), m_picture);
    else
        painter.drawPixmap(0, 0, m_picture);
}

void ImageControl::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_clickable && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        emit Click();
    QWidget::mouseReleaseEvent(event);
}
