// SPDX-License-Identifier: MIT
#pragma once

#include "app/CDColor.h"

#include <QWidget>

class QLabel;
class PictureBox;
class frmMain;

// The preferences tool window: two swatches for the chat boxes' background
// and text colours. Every choice applies at once to both boxes.
class frmPref : public QWidget
{
    Q_OBJECT
public:
    explicit frmPref(frmMain *main);

    QLabel *lblBGColor;
    PictureBox *picBGColor;
    QLabel *lblTextColor;
    PictureBox *picTextColor;
    ::CDColor CDColor;

    void Form_Load();
    void picBGColor_Click();
    void picTextColor_Click();

private:
    void choose(PictureBox *swatch, QPalette::ColorRole role);

    frmMain *m_main;
};
