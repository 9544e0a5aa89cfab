// SPDX-License-Identifier: MIT
#pragma once

#include "app/CDColor.h"

#include <QWidget>

class QLabel;
class PictureBox;

// The preferences tool window: two swatches for the chat boxes' background
// and text colours. Every choice is announced at once; the main window
// applies it to both boxes.
class frmPref : public QWidget
{
    Q_OBJECT
public:
    explicit frmPref(QWidget *main);

    QLabel *lblBGColor;
    PictureBox *picBGColor;
    QLabel *lblTextColor;
    PictureBox *picTextColor;
    ::CDColor CDColor;

    // The swatches take the transcript's colours.
    void Form_Load(const QPalette &transcript);
    void picBGColor_Click();
    void picTextColor_Click();

signals:
    // Base for the background swatch, Text for the text swatch.
    void colourChosen(QPalette::ColorRole role, const QColor &colour);

private:
    void choose(PictureBox *swatch, QPalette::ColorRole role);
};
