// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/CommandButton.h"
#include "app/Graphix.h"
#include "app/ImageControl.h"
#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "app/Twips.h"
#include "app/frmPref.h"
#include "net/Wsk.h"
#include "stage/Roster.h"
#include "stage/StageRules.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int ClientWidth = 357;  // 5355 twips
constexpr int ClientHeight = 288; // 4320 twips

void setColours(QWidget *widget, const QColor &background, const QColor &text)
{
    QPalette p = widget->palette();
    if (background.isValid())
        p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, text);
    widget->setPalette(p);
}

// A chat box's colours fill its inside; its frame keeps the system's colours,
// not the dark green it stands on.
void setBoxColours(QWidget *box, const QColor &background, const QColor &text)
{
    const QPalette system = QApplication::palette();
    QPalette p;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            p.setBrush(g, r, system.brush(g, r)); // set, so not taken from the window
        }
    }
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Text, text);
    box->setPalette(p);
}

// Labels show text as plain text only: several of them show what the server sent.
QLabel *makeLabel(QWidget *parent, const QString &name, QRect pixels, const QString &caption,
                  bool opaque)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(pixels);
    label->setAutoFillBackground(opaque);
    return label;
}

void setBordered(QLabel *label)
{
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
}

QPushButton *makeButton(QWidget *parent, const QString &name, QRect pixels, const QString &caption)
{
    auto *button = new CommandButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(pixels);
    return button;
}

QLineEdit *makeTextBox(QWidget *parent, const QString &name, QRect pixels)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(pixels);
    setBoxColours(box, QColor(0, 255, 255), QColor(0, 0, 255));
    return box;
}

} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_session(new ClientSession(this)),
      m_prompt([this](const QString &prompt, const QString &title, const QString &answer) {
          return QInputDialog::getText(this, title, prompt, QLineEdit::Normal, answer);
      }),
      m_endProgram([] { QCoreApplication::exit(0); })
{
    m_session->setPause([] { QCoreApplication::processEvents(); });
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vostrel! - Quandrel Online"));
    setWindowIcon(QIcon(QPixmap(QStringLiteral(":/pictures/icon.png"), "PNG")));
    buildWindow();
    buildMenu();
    connectHandlers();
    connectSession();
    setFixedSize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
}

frmMain::~frmMain()
{
    // Children outlive this destructor for a moment; none of their last signals
    // (the socket closing, focus moving) may reach a handler.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
}

void frmMain::buildWindow()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(ClientWidth, ClientHeight);
    client->setAutoFillBackground(true);
    setColours(client, QColor(20, 67, 20), palette().color(QPalette::WindowText));
    setFont(m_fonts.sans(10)); // the menu bar too
    setCentralWidget(client);
    const QPalette system = QApplication::palette();

    // Created from the bottom of the z-order up: each control lies over the ones before it.
    lblDisplayWhoYouAre =
        makeLabel(client, QStringLiteral("lblDisplayWhoYouAre"),
                  Twips::toPixels(3360, 1200, 1935, 375), QStringLiteral("Gimbo"), true);
    setColours(lblDisplayWhoYouAre, Qt::black, Qt::white);
    lblDisplayWhoYouAre->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblDisplayWhoYouAre->setFont(m_fonts.sans(12, true));
    setBordered(lblDisplayWhoYouAre);
    Label3 = makeLabel(client, QStringLiteral("Label3"), Twips::toPixels(3600, 1680, 1500, 195),
                       QStringLiteral("IP Address of Server:"), false);
    setColours(Label3, QColor(), Qt::white);
    lblClientNumber = makeLabel(client, QStringLiteral("lblClientNumber"),
                                Twips::toPixels(3840, 2880, 1095, 255), QStringLiteral("0"), true);
    setColours(lblClientNumber, system.color(QPalette::Button), system.color(QPalette::ButtonText));
    setBordered(lblClientNumber);
    Label4 = makeLabel(client, QStringLiteral("Label4"), Twips::toPixels(3840, 2640, 1035, 195),
                       QStringLiteral("Client Number:"), false);
    setColours(Label4, QColor(), Qt::white);
    YourWay = makeLabel(client, QStringLiteral("YourWay"), Twips::toPixels(2520, 3720, 495, 255),
                        QStringLiteral("Left"), true);
    setBordered(YourWay);
    YourWay->hide();
    lblGetBla = makeLabel(client, QStringLiteral("lblGetBla"),
                          Twips::toPixels(3840, 3240, 1095, 495), QStringLiteral("Label5"), true);
    lblGetBla->hide();
    WhoAreYou = makeLabel(client, QStringLiteral("WhoAreYou"),
                          Twips::toPixels(3360, 3840, 1935, 255), QStringLiteral("Gimbo"), true);
    WhoAreYou->hide();
    Label5 = makeLabel(client, QStringLiteral("Label5"), Twips::toPixels(1200, 3840, 1215, 375),
                       QStringLiteral("Label5"), true);
    setColours(Label5, system.color(QPalette::Button), system.color(QPalette::ButtonText));

    txtOutput = new TranscriptBox(client);
    txtOutput->setObjectName(QStringLiteral("txtOutput"));
    txtOutput->setGeometry(Twips::toPixels(0, 240, 3255, 2055));
    txtOutput->setSource(&m_session->transcript());
    setBoxColours(txtOutput, QColor(0, 255, 255), QColor(0, 0, 255));
    txtInput = makeTextBox(client, QStringLiteral("txtInput"), Twips::toPixels(0, 2040, 3255, 285));
    cmdTimeStamp = makeButton(client, QStringLiteral("cmdTimeStamp"),
                              Twips::toPixels(0, 2280, 1095, 315), QStringLiteral("Time Stamp"));
    cmdPrefs = makeButton(client, QStringLiteral("cmdPrefs"), Twips::toPixels(0, 3720, 1095, 315),
                          QStringLiteral("Preferences"));
    Haps = new PictureBox(client, QStringLiteral("Haps"), Twips::toPixels(0, 2280, 2535, 1455));
    Haps->setBackColor(Qt::black);
    Haps->setFocusPolicy(Qt::TabFocus);
    buildStage();
    cmdLeft = makeButton(client, QStringLiteral("cmdLeft"), Twips::toPixels(2520, 2280, 375, 1455),
                         QStringLiteral("<"));
    cmdLeft->setFont(m_fonts.sans(16));
    cmdRight = makeButton(client, QStringLiteral("cmdRight"),
                          Twips::toPixels(2880, 2280, 375, 1455), QStringLiteral(">"));
    cmdRight->setFont(m_fonts.sans(16));
    Picture1 =
        new PictureBox(client, QStringLiteral("Picture1"), Twips::toPixels(3360, 0, 1935, 1215));
    Picture1->setBackColor(Qt::black);
    Picture1->setFocusPolicy(Qt::TabFocus);
    buildPanel();
    cmdConnection = makeButton(client, QStringLiteral("cmdConnection"),
                               Twips::toPixels(3600, 2235, 1575, 375), QStringLiteral("Connect"));
    txtIP = makeTextBox(client, QStringLiteral("txtIP"), Twips::toPixels(3600, 1920, 1575, 285));
    txtIP->setText(QStringLiteral("127.0.0.1"));

    setTabOrder(txtOutput, txtInput);
    setTabOrder(txtInput, cmdTimeStamp);
    setTabOrder(cmdTimeStamp, cmdPrefs);
    setTabOrder(cmdPrefs, Haps);
    setTabOrder(Haps, cmdLeft);
    setTabOrder(cmdLeft, cmdRight);
    setTabOrder(cmdRight, Picture1);
    setTabOrder(Picture1, cmdConnection);
    setTabOrder(cmdConnection, txtIP);

    Constant = m_session->Constant;
    SendUsersYourData = m_session->SendUsersYourData;
    Action = m_session->Action;
    Wsk = m_session->Wsk;
}

void frmMain::buildPanel()
{
    QWidget *panel = Picture1->inner();
    Label2 = makeLabel(panel, QStringLiteral("Label2"), Twips::toPixels(0, 0, 1875, 300),
                       QStringLiteral("Quandrel"), false);
    setColours(Label2, QColor(), QColor(0, 255, 255));
    Label2->setFont(m_fonts.serif(15));
    Label1 = makeLabel(panel, QStringLiteral("Label1"), Twips::toPixels(480, 240, 810, 300),
                       QStringLiteral("Online"), false);
    setColours(Label1, QColor(), QColor(0, 255, 255));
    Label1->setFont(m_fonts.sans(15, false, true));

    auto selection = [panel](const QString &name, float left, float top, float width,
                             float height) {
        auto *image = new ImageControl(panel, name, left, top, width, height);
        image->setPicture(QPixmap(QStringLiteral(":/pictures/%1.bmp").arg(name), "BMP"));
        image->setClickable(true);
        image->setToolTip(Roster::bySelection(name)->displayName.toString());
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
        auto *image = new ImageControl(stage, QStringLiteral("imgClient(%1)").arg(index), 1800, 480,
                                       375, 615);
        image->setSpriteSource(source);
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

void frmMain::connectHandlers()
{
    connect(mnuConnect, &QAction::triggered, this, &frmMain::mnuConnect_Click);
    connect(mnuDisconnect, &QAction::triggered, this, &frmMain::mnuDisconnect_Click);
    connect(mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(cmdConnection, &QPushButton::clicked, this, &frmMain::cmdConnection_Click);
    connect(cmdLeft, &QPushButton::clicked, this, &frmMain::cmdLeft_Click);
    connect(cmdRight, &QPushButton::clicked, this, &frmMain::cmdRight_Click);
    connect(cmdPrefs, &QPushButton::clicked, this, &frmMain::cmdPrefs_Click);
    connect(cmdTimeStamp, &QPushButton::clicked, this, &frmMain::cmdTimeStamp_Click);
    connect(Tavro, &ImageControl::Click, this, &frmMain::Tavro_Click);
    connect(Gimbo, &ImageControl::Click, this, &frmMain::Gimbo_Click);
    connect(Nubo, &ImageControl::Click, this, &frmMain::Nubo_Click);
    connect(Sorra, &ImageControl::Click, this, &frmMain::Sorra_Click);
    connect(Veck, &ImageControl::Click, this, &frmMain::Veck_Click);
    connect(Jaxorin, &ImageControl::Click, this, &frmMain::Jaxorin_Click);
    connect(txtInput, &QLineEdit::returnPressed, this, [this] { txtInput_KeyPress(13); });
    connect(txtOutput, &TranscriptBox::Change, this, &frmMain::txtOutput_Change);
    connect(txtOutput, &TranscriptBox::GotFocus, this, &frmMain::txtOutput_GotFocus);
}

void frmMain::connectSession()
{
    ClientSession *s = m_session;
    connect(s, &ClientSession::clientNumberChanged, lblClientNumber, &QLabel::setText);
    connect(s, &ClientSession::lastPieceChanged, lblGetBla, &QLabel::setText);
    connect(s, &ClientSession::readoutChanged, Label5, &QLabel::setText);
    connect(s, &ClientSession::transcriptChanged, txtOutput, &TranscriptBox::changed);
    connect(s, &ClientSession::avatarChanged, this, [this] {
        lblDisplayWhoYouAre->setText(m_session->displayName());
        WhoAreYou->setText(m_session->code());
    });
    connect(s, &ClientSession::facingChanged, this, [this] {
        YourWay->setText(m_session->facing() == Direction::Left ? QStringLiteral("Left")
                                                                : QStringLiteral("Right"));
    });
    connect(s, &ClientSession::imageChanged, this,
            [this](int index) { imgClient[std::size_t(index)]->follow(m_session->image(index)); });
}

// ---- lifecycle

void frmMain::Form_Load()
{
    mnuDisconnect->setEnabled(false);
    Constant->start();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_QueryUnload();
}

void frmMain::Form_QueryUnload()
{
    endProgramAtOnce();
}

void frmMain::mnuExit_Click()
{
    endProgramAtOnce();
}

void frmMain::endProgramAtOnce()
{
    if (m_ended)
        return;
    m_ended = true;
    m_session->end();
    if (m_pref)
        m_pref->hide();
    hide();
    m_endProgram();
}

// ---- connection

void frmMain::mnuConnect_Click()
{
    if (m_session->State() != Wsk::sckClosed)
        return;
    const QString name = m_prompt(tr("What is your username?"), tr("Username"), tr("Guest"));
    const QString host = m_prompt(tr("Enter the IP of the server you wish to connect to."),
                                  tr("Parlwick"), QString());
    if (!m_ended && m_session->connectTo(name, host))
        switchMenusToConnected();
}

void frmMain::cmdConnection_Click()
{
    if (!m_session->connectTo(WhoAreYou->text(), txtIP->text()))
        return;
    switchMenusToConnected();
    cmdConnection->setEnabled(false);
}

void frmMain::switchMenusToConnected()
{
    mnuDisconnect->setEnabled(true);
    mnuConnect->setEnabled(false);
    mnuExit->setEnabled(false);
}

void frmMain::mnuDisconnect_Click()
{
    m_session->close();
    mnuConnect->setEnabled(true);
    mnuDisconnect->setEnabled(false);
    mnuExit->setEnabled(true);
}

// ---- stage and chat

Graphix &frmMain::graphix()
{
    if (!m_graphix)
        m_graphix = std::make_unique<Graphix>();
    return *m_graphix;
}

void frmMain::txtInput_KeyPress(int keyAscii)
{
    if (keyAscii != 13)
        return;
    const QString line = txtInput->text();
    if (m_session->sendChat(line) != ClientSession::ChatResult::Sent)
        return;
    // Keep anything typed during the pause; only the sent line leaves the box.
    const QString now = txtInput->text();
    txtInput->setText(now.startsWith(line) ? now.mid(line.size()) : now);
}

void frmMain::txtOutput_Change()
{
    txtOutput->setSelStart(txtOutput->Text().size());
}

void frmMain::txtOutput_GotFocus()
{
    txtInput->setFocus();
}

void frmMain::cmdTimeStamp_Click()
{
    m_session->stampTime();
}

void frmMain::cmdPrefs_Click()
{
    if (!m_pref)
        m_pref = new frmPref(this);
    if (m_pref->isVisible()) {
        m_pref->raise();
        m_pref->activateWindow();
        return;
    }
    m_pref->Form_Load();
    m_pref->show();
}
