#include "app/frmMain.h"

#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "app/frmPref.h"
#include "chat/TimeStamp.h"
#include "chat/Transcript.h"
#include "net/Packets.h"
#include "net/PositionText.h"
#include "net/ReceivedText.h"
#include "net/Wsk.h"
#include "stage/Graphix.h"
#include "stage/ImageControl.h"
#include "stage/RemoteUpdate.h"
#include "stage/Roster.h"
#include "stage/StageRules.h"
#include "stage/Twips.h"

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
    if (background.isValid()) {
        p.setColor(QPalette::Window, background);
        p.setColor(QPalette::Base, background);
    }
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    widget->setPalette(p);
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
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(pixels);
    button->setAutoDefault(false);
    return button;
}

QLineEdit *makeTextBox(QWidget *parent, const QString &name, QRect pixels)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(pixels);
    setColours(box, QColor(0, 255, 255), QColor(0, 0, 255));
    return box;
}

QTimer *makeTimer(QObject *parent, const QString &name, bool singleShot)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(name);
    timer->setInterval(0); // as soon as the event loop is idle
    timer->setSingleShot(singleShot);
    return timer;
}

} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_prompt([this](const QString &prompt, const QString &title, const QString &answer) {
          return QInputDialog::getText(this, title, prompt, QLineEdit::Normal, answer);
      }),
      m_endProgram([] { QCoreApplication::exit(0); }),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vostrel! - Quandrel Online"));
    setWindowIcon(QIcon(QPixmap(QStringLiteral(":/pictures/icon.png"), "PNG")));
    buildWindow();
    buildMenu();
    connectHandlers();
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
    setColours(txtOutput, QColor(0, 255, 255), QColor(0, 0, 255));
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

    Constant = makeTimer(this, QStringLiteral("Constant"), true);
    SendUsersYourData = makeTimer(this, QStringLiteral("SendUsersYourData"), false);
    Action = makeTimer(this, QStringLiteral("Action"), false);
    Wsk = new ::Wsk(this);
    Wsk->setObjectName(QStringLiteral("Wsk"));
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
    connect(Wsk, &Wsk::ConnectEvent, this, &frmMain::Wsk_Connect);
    connect(Wsk, &Wsk::DataArrival, this, &frmMain::Wsk_DataArrival);
    connect(Wsk, &Wsk::Dropped, this, &frmMain::Wsk_Dropped);
    connect(Constant, &QTimer::timeout, this, &frmMain::Constant_Timer);
    connect(SendUsersYourData, &QTimer::timeout, this, &frmMain::SendUsersYourData_Timer);
    connect(Action, &QTimer::timeout, this, &frmMain::Action_Timer);
    connect(txtInput, &QLineEdit::returnPressed, this, [this] { txtInput_KeyPress(13); });
    connect(txtOutput, &TranscriptBox::Change, this, &frmMain::txtOutput_Change);
    connect(txtOutput, &TranscriptBox::GotFocus, this, &frmMain::txtOutput_GotFocus);
    // The readout follows the own image; refresh it whenever any image moves.
    for (ImageControl *image : imgClient)
        connect(image, &ImageControl::moved, Constant, qOverload<>(&QTimer::start));
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
    Wsk->Close();
    Constant->stop();
    SendUsersYourData->stop();
    Action->stop();
    if (m_pref)
        m_pref->hide();
    hide();
    m_endProgram();
}

// ---- connection

void frmMain::mnuConnect_Click()
{
    if (Wsk->State() != Wsk::sckClosed)
        return;
    UserName = m_prompt(tr("What is your username?"), tr("Username"), tr("Guest"));
    const QString host = m_prompt(tr("Enter the IP of the server you wish to connect to."),
                                  tr("Parlwick"), QString());
    if (m_ended)
        return;
    Wsk->setRemoteHost(host);
    Wsk->Connect();
    mnuDisconnect->setEnabled(true);
    mnuConnect->setEnabled(false);
    mnuExit->setEnabled(false);
}

void frmMain::cmdConnection_Click()
{
    if (Wsk->State() != Wsk::sckClosed)
        return;
    UserName = WhoAreYou->text();
    Wsk->setRemoteHost(txtIP->text());
    Wsk->Connect();
    mnuDisconnect->setEnabled(true);
    mnuConnect->setEnabled(false);
    mnuExit->setEnabled(false);
    cmdConnection->setEnabled(false);
}

void frmMain::mnuDisconnect_Click()
{
    Wsk->Close();
    mnuConnect->setEnabled(true);
    mnuDisconnect->setEnabled(false);
    mnuExit->setEnabled(true);
}

void frmMain::Wsk_Connect()
{
    appendToTranscript(TimeStamp::connectedLine(m_clock(), m_locale));
    Wsk->SendData(Packets::join(UserName));
    QCoreApplication::processEvents();
}

void frmMain::Wsk_Dropped(bool wasConnected, const QString &reason)
{
    const QString line =
        wasConnected ? tr("The connection to %1 ended: %2") : tr("Could not connect to %1: %2");
    appendToTranscript(line.arg(Wsk->RemoteHost(), reason) + QStringLiteral("\r\n"));
}

void frmMain::Wsk_DataArrival()
{
    const QString received = Wsk->GetData();
    for (const QString &piece : ReceivedText::pieces(received)) {
        if (m_ended)
            return;
        lblGetBla->setText(piece);
        dispatch(piece);
    }
}

void frmMain::dispatch(const QString &piece)
{
    switch (ReceivedText::kind(piece)) {
    case PacketKind::ClientNumber:
        lblClientNumber->setText(ReceivedText::clientNumber(piece));
        Constant->start();
        break;
    case PacketKind::NewUser:
        LastPacket = piece;
        SendUsersYourData->start();
        break;
    case PacketKind::Action:
        LastPacket = piece;
        if (m_actionQueue.size() >= MaxQueuedActions)
            m_actionQueue.removeFirst();
        m_actionQueue.append(piece);
        Action->start();
        break;
    case PacketKind::Chat:
        appendToTranscript(piece + QStringLiteral("\r\n"));
        break;
    case PacketKind::Unknown:
        break;
    }
}

// ---- stage

Graphix &frmMain::graphix()
{
    if (!m_graphix)
        m_graphix = std::make_unique<Graphix>();
    return *m_graphix;
}

void frmMain::selectAvatar(QStringView selection)
{
    const AvatarRow *row = Roster::bySelection(selection);
    if (Wsk->State() == Wsk::sckClosed)
        lblDisplayWhoYouAre->setText(row->displayName.toString());
    if (Wsk->State() == Wsk::sckClosed)
        WhoAreYou->setText(row->code.toString());
}

void frmMain::walk(Direction dir)
{
    if (Wsk->State() == Wsk::sckClosed)
        return;
    YourWay->setText(dir == Direction::Left ? QStringLiteral("Left") : QStringLiteral("Right"));
    auto n = StageRules::imageIndex(lblClientNumber->text());
    if (!n || !StageRules::mayStep(dir, imgClient[*n]->Left()))
        return;
    const ImageControl *own = imgClient[*n];
    Wsk->SendData(
        Packets::move(dir, lblClientNumber->text(), WhoAreYou->text(), own->Left(), own->Top()));
    if (dir == Direction::Left)
        QCoreApplication::processEvents();
    n = StageRules::imageIndex(lblClientNumber->text());
    if (n)
        imgClient[*n]->setLeft(StageRules::stepped(dir, imgClient[*n]->Left()));
}

void frmMain::SendUsersYourData_Timer()
{
    const auto n = StageRules::imageIndex(lblClientNumber->text());
    if (Wsk->State() != Wsk::sckClosed && n) {
        const Direction facing = YourWay->text() == u"Right" ? Direction::Right : Direction::Left;
        Wsk->SendData(Packets::presence(facing, lblClientNumber->text(), WhoAreYou->text(),
                                        imgClient[*n]->Left()));
    }
    SendUsersYourData->stop();
}

void frmMain::Action_Timer()
{
    const QStringList queued = std::exchange(m_actionQueue, {});
    for (const QString &packet : queued) {
        const ActionUpdate update = RemoteUpdate::parse(packet);
        if (update.index >= 0)
            RemoteUpdate::apply(update, *imgClient[update.index], Ground->Top());
    }
    Action->stop();
}

void frmMain::Constant_Timer()
{
    if (const auto n = StageRules::imageIndex(lblClientNumber->text()))
        Label5->setText(PositionText::format(imgClient[*n]->Left()));
}

// ---- chat

void frmMain::appendToTranscript(const QString &text)
{
    txtOutput->setText(txtOutput->Text() + text);
}

void frmMain::txtInput_KeyPress(int keyAscii)
{
    if (keyAscii != 13 || txtInput->text().isEmpty() || Wsk->State() == Wsk::sckClosed)
        return;
    if (m_sendingChat)
        return; // an Enter queued behind the one being sent: that line is on its way
    m_sendingChat = true;
    const QString line = txtInput->text();
    Wsk->SendData(Packets::chatLine(UserName, line));
    QCoreApplication::processEvents();
    // Keep anything typed during the pause; only the sent line leaves the box.
    const QString now = txtInput->text();
    txtInput->setText(now.startsWith(line) ? now.mid(line.size()) : now);
    m_sendingChat = false;
}

void frmMain::txtOutput_Change()
{
    txtOutput->setSelStart(txtOutput->Text().size());
    if (Transcript::tooLong(txtOutput->Text()))
        txtOutput->setText(Transcript::cut(txtOutput->Text()));
}

void frmMain::txtOutput_GotFocus()
{
    txtInput->setFocus();
}

void frmMain::cmdTimeStamp_Click()
{
    appendToTranscript(TimeStamp::line(m_clock(), m_locale));
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
