// SPDX-License-Identifier: MIT
// The main window's layout: every control with its place, caption, font,
// colours and flags, created from the bottom of the z-order up.
#include "app/frmMain.h"

#include "app/ChatColours.h"
#include "app/Controls.h"
#include "app/Graphix.h"
#include "app/ImageControl.h"
#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "stage/Roster.h"
#include "stage/StageRules.h"
#include "stage/Twips.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

void frmMain::buildWindow()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(ClientWidth, ClientHeight);
    client->setAutoFillBackground(true);
    Controls::setColours(client, QColor(20, 67, 20), palette().color(QPalette::WindowText));
    setFont(m_fonts.sans(10)); // the menu bar too
    setCentralWidget(client);
    const QPalette system = QApplication::palette();

    // Created from the bottom of the z-order up: each control lies over the ones before it.
    lblDisplayWhoYouAre =
        Controls::label(client, QStringLiteral("lblDisplayWhoYouAre"),
                        Twips::toPixels(3360, 1200, 1935, 375), QStringLiteral("Gimbo"), true);
    Controls::setColours(lblDisplayWhoYouAre, Qt::black, Qt::white);
    lblDisplayWhoYouAre->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblDisplayWhoYouAre->setFont(m_fonts.sans(12, true));
    Controls::setBordered(lblDisplayWhoYouAre);
    Label3 =
        Controls::label(client, QStringLiteral("Label3"), Twips::toPixels(3600, 1680, 1500, 195),
                        QStringLiteral("IP Address of Server:"), false);
    Controls::setColours(Label3, QColor(), Qt::white);
    lblClientNumber =
        Controls::label(client, QStringLiteral("lblClientNumber"),
                        Twips::toPixels(3840, 2880, 1095, 255), QStringLiteral("0"), true);
    Controls::setColours(lblClientNumber, system.color(QPalette::Button),
                         system.color(QPalette::ButtonText));
    Controls::setBordered(lblClientNumber);
    Label4 =
        Controls::label(client, QStringLiteral("Label4"), Twips::toPixels(3840, 2640, 1035, 195),
                        QStringLiteral("Client Number:"), false);
    Controls::setColours(Label4, QColor(), Qt::white);
    YourWay = Controls::label(client, QStringLiteral("YourWay"),
                              Twips::toPixels(2520, 3720, 495, 255), QStringLiteral("Left"), true);
    Controls::setBordered(YourWay);
    YourWay->hide();
    lblGetBla =
        Controls::label(client, QStringLiteral("lblGetBla"), Twips::toPixels(3840, 3240, 1095, 495),
                        QStringLiteral("Label5"), true);
    lblGetBla->hide();
    WhoAreYou =
        Controls::label(client, QStringLiteral("WhoAreYou"), Twips::toPixels(3360, 3840, 1935, 255),
                        QStringLiteral("Gimbo"), true);
    WhoAreYou->hide();
    Label5 =
        Controls::label(client, QStringLiteral("Label5"), Twips::toPixels(1200, 3840, 1215, 375),
                        QStringLiteral("Label5"), true);
    Controls::setColours(Label5, system.color(QPalette::Button),
                         system.color(QPalette::ButtonText));

    txtOutput = new TranscriptBox(client);
    txtOutput->setObjectName(QStringLiteral("txtOutput"));
    txtOutput->setGeometry(Twips::toPixels(0, 240, 3255, 2055));
    txtOutput->setSource(&m_session->transcript());
    Controls::setBoxColours(txtOutput, ChatColours::Background, ChatColours::Text);
    txtInput =
        Controls::textBox(client, QStringLiteral("txtInput"), Twips::toPixels(0, 2040, 3255, 285));
    // What the captions do not say, assistive technology reads.
    txtOutput->setAccessibleName(tr("Transcript"));
    txtInput->setAccessibleName(tr("Message"));
    Label5->setAccessibleName(tr("Position"));
    lblClientNumber->setAccessibleName(tr("Client number"));
    lblDisplayWhoYouAre->setAccessibleName(tr("Your avatar"));
    // The hidden ones, should anything look.
    YourWay->setAccessibleName(tr("Facing"));
    lblGetBla->setAccessibleName(tr("Last received"));
    WhoAreYou->setAccessibleName(tr("Avatar code"));
    cmdTimeStamp =
        Controls::button(client, QStringLiteral("cmdTimeStamp"),
                         Twips::toPixels(0, 2280, 1095, 315), QStringLiteral("Time Stamp"));
    cmdPrefs = Controls::button(client, QStringLiteral("cmdPrefs"),
                                Twips::toPixels(0, 3720, 1095, 315), QStringLiteral("Preferences"));
    Haps = new PictureBox(client, QStringLiteral("Haps"), Twips::toPixels(0, 2280, 2535, 1455));
    Haps->setBackColor(Qt::black);
    Haps->setFocusPolicy(Qt::TabFocus);
    // Read as the list of who stands on it (a list before anything asks).
    Haps->setItems([this] {
        QList<ImageControl *> present;
        for (int i = 0; i < StageRules::ImageCount; ++i) {
            if (m_onStage[std::size_t(i)])
                present.append(imgClient[std::size_t(i)]);
        }
        return present;
    });
    Haps->setAccessibleName(tr("Stage"));
    Haps->setAccessibleDescription(tr("Left and Right arrows walk"));
    buildStage();
    cmdLeft = Controls::button(client, QStringLiteral("cmdLeft"),
                               Twips::toPixels(2520, 2280, 375, 1455), QStringLiteral("<"));
    cmdLeft->setFont(m_fonts.sans(16));
    cmdRight = Controls::button(client, QStringLiteral("cmdRight"),
                                Twips::toPixels(2880, 2280, 375, 1455), QStringLiteral(">"));
    cmdRight->setFont(m_fonts.sans(16));
    cmdLeft->setAccessibleName(tr("Walk left"));
    cmdRight->setAccessibleName(tr("Walk right"));
    cmdLeft->setToolTip(tr("Walk left (Left arrow on the stage)"));
    cmdRight->setToolTip(tr("Walk right (Right arrow on the stage)"));
    Picture1 =
        new PictureBox(client, QStringLiteral("Picture1"), Twips::toPixels(3360, 0, 1935, 1215));
    Picture1->setBackColor(Qt::black);
    Picture1->setFocusPolicy(Qt::TabFocus);
    Picture1->setItems(
        [this] { return QList<ImageControl *>{Tavro, Gimbo, Nubo, Sorra, Veck, Jaxorin}; });
    Picture1->setAccessibleName(tr("Avatar"));
    Picture1->setAccessibleDescription(tr("Arrow keys choose, before connecting"));
    buildPanel();
    cmdConnection =
        Controls::button(client, QStringLiteral("cmdConnection"),
                         Twips::toPixels(3600, 2235, 1575, 375), QStringLiteral("Connect"));
    txtIP =
        Controls::textBox(client, QStringLiteral("txtIP"), Twips::toPixels(3600, 1920, 1575, 285));
    txtIP->setText(QStringLiteral("127.0.0.1"));
    txtIP->setAccessibleName(tr("Server address"));
    Label3->setBuddy(txtIP);

    setTabOrder(txtOutput, txtInput);
    setTabOrder(txtInput, cmdTimeStamp);
    setTabOrder(cmdTimeStamp, cmdPrefs);
    setTabOrder(cmdPrefs, Haps);
    setTabOrder(Haps, cmdLeft);
    setTabOrder(cmdLeft, cmdRight);
    setTabOrder(cmdRight, Picture1);
    setTabOrder(Picture1, cmdConnection);
    setTabOrder(cmdConnection, txtIP);
}

void frmMain::buildPanel()
{
    QWidget *panel = Picture1->inner();
    Label2 = Controls::label(panel, QStringLiteral("Label2"), Twips::toPixels(0, 0, 1875, 300),
                             QStringLiteral("Quandrel"), false);
    Controls::setColours(Label2, QColor(), QColor(0, 255, 255));
    Label2->setFont(m_fonts.serif(15));
    Label1 = Controls::label(panel, QStringLiteral("Label1"), Twips::toPixels(480, 240, 810, 300),
                             QStringLiteral("Online"), false);
    Controls::setColours(Label1, QColor(), QColor(0, 255, 255));
    Label1->setFont(m_fonts.sans(15, false, true));

    auto selection = [this, panel](const QString &name, float left, float top, float width,
                                   float height) {
        auto *image = new ImageControl(panel, name, left, top, width, height);
        image->setPicture(QPixmap(QStringLiteral(":/pictures/%1.bmp").arg(name), "BMP"));
        image->setClickable(true);
        image->setToolTip(Roster::bySelection(name)->displayName.toString());
        image->setList(Picture1);
        image->setAccessibleName(image->toolTip());
        return image;
    };
    Tavro = selection(QStringLiteral("Tavro"), 120, 600, 270, 450);
    Gimbo = selection(QStringLiteral("Gimbo"), 360, 600, 270, 450);
    Nubo = selection(QStringLiteral("Nubo"), 600, 600, 270, 450);
    Sorra = selection(QStringLiteral("Sorra"), 840, 600, 270, 450);
    Veck = selection(QStringLiteral("Veck"), 1120, 540, 210, 510);
    Jaxorin = selection(QStringLiteral("Jaxorin"), 1340, 690, 315, 360);
}

void frmMain::buildStage()
{
    QWidget *stage = Haps->inner();
    background = new ImageControl(stage, QStringLiteral("background"), 0, -240, 2505, 1770);
    background->setStretch(true);
    background->setPicture(QPixmap(QStringLiteral(":/pictures/background.bmp"), "BMP"));
    imgServer = new ImageControl(stage, QStringLiteral("imgServer"), 240, 680, 225, 405);
    imgServer->setPicture(QPixmap(QStringLiteral(":/pictures/imgServer.gif"), "GIF"));
    imgServer->hide();
    const QPixmap post(QStringLiteral(":/pictures/post.bmp"), "BMP");
    Ground = new ImageControl(stage, QStringLiteral("Ground"), 0, StageRules::GroundTop, 5790, 360);
    Ground->setPicture(QPixmap(QStringLiteral(":/pictures/ground.bmp"), "BMP"));
    Post2 = new ImageControl(stage, QStringLiteral("Post2"), 2280, 360, 240, 2655);
    Post2->setPicture(post);
    Post1 = new ImageControl(stage, QStringLiteral("Post1"), 0, 360, 240, 2655);
    Post1->setPicture(post);

    const auto source = [this](const SpriteRef &sprite) {
        return graphix().sprite(sprite.name);
    };
    auto avatar = [&](int index) {
        auto *image = new ImageControl(stage, QStringLiteral("imgClient(%1)").arg(index),
                                       AvatarImage::StartLeft, AvatarImage::StartTop,
                                       AvatarImage::StartWidth, AvatarImage::StartHeight);
        image->setSpriteSource(source);
        image->setList(Haps);
        imgClient[index] = image;
    };
    avatar(1);
    avatar(0);
    for (int i = 2; i < StageRules::ImageCount; ++i)
        avatar(i);
}

void frmMain::buildMenu()
{
    mnuFile = menuBar()->addMenu(tr("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuConnect = mnuFile->addAction(tr("&Connect"));
    mnuConnect->setObjectName(QStringLiteral("mnuConnect"));
    mnuDisconnect = mnuFile->addAction(tr("&Disconnect"));
    mnuDisconnect->setObjectName(QStringLiteral("mnuDisconnect"));
    mnuSep1 = mnuFile->addSeparator();
    mnuSep1->setObjectName(QStringLiteral("mnuSep1"));
    mnuExit = mnuFile->addAction(tr("&Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
}
