// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QFrame>
#include <QList>
#include <functional>

class ImageControl;

// A picture box: a sunken, filled panel. Children go into inner(), whose
// origin is the panel's inner top-left corner and which clips them.
class PictureBox : public QFrame
{
    Q_OBJECT
public:
    PictureBox(QWidget *parent, const QString &name, const QRect &pixels);

    QWidget *inner() const { return m_inner; }
    QColor BackColor() const;
    void setBackColor(const QColor &colour);

    // A box whose pictures a screen reader reads as a list: the pictures
    // that are its items, in order, now. Set before the box is shown.
    using Items = std::function<QList<ImageControl *>()>;
    void setItems(Items items) { m_items = std::move(items); }
    bool isList() const { return bool(m_items); }
    QList<ImageControl *> items() const { return m_items ? m_items() : QList<ImageControl *>(); }

signals:
    void Click();
    // Any key pressed while the box has the focus, before the box handles it.
    void KeyDown(int keyCode);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QWidget *m_inner;
    Items m_items;
};
