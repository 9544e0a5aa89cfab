// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QFrame>

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

signals:
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QWidget *m_inner;
};
