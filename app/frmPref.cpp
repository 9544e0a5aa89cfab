// SPDX-License-Identifier: MIT
#include "app/frmPref.h"

#include "app/ChatColours.h"
#include "app/Controls.h"
#include "app/LayoutFonts.h"
#include "app/PictureBox.h"
#include "stage/Twips.h"

#include <QLabel>

frmPref::frmPref(QWidget *main)
    : QWidget(main,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      CDColor(this)
{
    setObjectName(QStringLiteral("frmPref"));
    setWindowTitle(tr("Preferences"));
    setFixedSize(216, 67);
    setFont(LayoutFonts().sans(10));

    lblBGColor = Controls::label(this, QStringLiteral("lblBGColor"),
                                 Twips::toPixels(120, 120, 1275, 195), tr("Background Color"));
    picBGColor =
        new PictureBox(this, QStringLiteral("picBGColor"), Twips::toPixels(120, 360, 1335, 495));
    picBGColor->setBackColor(ChatColours::Background);
    picBGColor->setCursor(Qt::PointingHandCursor);
    lblTextColor = Controls::label(this, QStringLiteral("lblTextColor"),
                                   Twips::toPixels(1800, 120, 1320, 195), tr("Text Color"));
    lblTextColor->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    picTextColor =
        new PictureBox(this, QStringLiteral("picTextColor"), Twips::toPixels(1800, 360, 1335, 495));
    picTextColor->setBackColor(ChatColours::Text);
    picTextColor->setCursor(Qt::PointingHandCursor);

    // The swatches are reached with Tab and chosen with Space or Enter; a
    // screen reader reads each as a button (set before anything asks).
    picBGColor->setFocusPolicy(Qt::StrongFocus);
    picTextColor->setFocusPolicy(Qt::StrongFocus);
    picBGColor->setAccessibleName(tr("Background colour of the chat"));
    picTextColor->setAccessibleName(tr("Text colour of the chat"));
    setTabOrder(picBGColor, picTextColor);

    connect(picBGColor, &PictureBox::Click, this, &frmPref::picBGColor_Click);
    connect(picTextColor, &PictureBox::Click, this, &frmPref::picTextColor_Click);
}

void frmPref::Form_Load(const QPalette &transcript)
{
    picBGColor->setBackColor(transcript.color(QPalette::Base));
    picTextColor->setBackColor(transcript.color(QPalette::Text));
}

void frmPref::picBGColor_Click()
{
    choose(picBGColor, QPalette::Base);
}

void frmPref::picTextColor_Click()
{
    choose(picTextColor, QPalette::Text);
}

void frmPref::choose(PictureBox *swatch, QPalette::ColorRole role)
{
    CDColor.Color = CDColor::toValue(swatch->BackColor());
    CDColor.ShowColor();
    const QColor chosen = CDColor::fromValue(CDColor.Color);
    swatch->setBackColor(chosen);
    emit colourChosen(role, chosen);
}
