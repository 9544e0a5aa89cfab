// SPDX-License-Identifier: MIT
#pragma once

#include "stage/AvatarImage.h"

#include <QPixmap>
#include <QWidget>
#include <functional>

// An image control: a picture placed by its edges in twips inside its
// container. Without stretching it takes the size of the picture it shows;
// with stretching the picture fills the control's own size.
class ImageControl : public QWidget
{
    Q_OBJECT
public:
    using SpriteSource = std::function<QPixmap(const SpriteRef &)>;

    ImageControl(QWidget *container, const QString &name, float left, float top, float width,
                 float height);

    float Left() const { return m_left; }
    void setLeft(float twips);
    float Top() const { return m_top; }
    void setTop(float twips);
    float Height() const { return m_height; }
    void assignSprite(const SpriteRef &sprite);

    // Stands, shows and pictures itself as the stage's image does.
    void follow(const AvatarImage &image);
    void setPicture(const QPixmap &picture);
    const QPixmap &picture() const { return m_picture; }
    QString pictureName() const { return m_pictureName; }
    void setStretch(bool stretch) { m_stretch = stretch; }
    void setSpriteSource(SpriteSource source) { m_spriteSource = std::move(source); }
    void setClickable(bool clickable);
    bool clickable() const { return m_clickable; }
    // What a click does, for the keyboard and for assistive technology.
    void press();
    // An item of a list a screen reader reads (see PictureBox::setItems),
    // chosen or not.
    void setList(QWidget *list) { m_list = list; }
    QWidget *list() const { return m_list; }
    void setChosen(bool chosen);
    bool chosen() const { return m_chosen; }

signals:
    void Click();
    void moved();

protected:
    void paintEvent(QPaintEvent *event);
    void mouseReleaseEvent(QMouseEvent *event);

private:
    void place();

    float m_left;
    float m_top;
    float m_width;
    float m_height;
    bool m_stretch = false;
    bool m_clickable = false;
    bool m_chosen = false;
    QWidget *m_list = nullptr;
    QPixmap m_picture;
    QString m_pictureName;
    SpriteSource m_spriteSource;
};
