// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/Accessibility.h"
#include "app/Controls.h"
#include "app/Graphix.h"
#include "app/ImageControl.h"
#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "app/frmPref.h"
#include "chat/IgnoreList.h"
#include "stage/Roster.h"
#include "stage/StagePeople.h"
#include "stage/StageRules.h"
#include "stage/Twips.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>

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
    Accessibility::install();
    m_session->setPause([] { QCoreApplication::processEvents(); });
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vostrel! - Quandrel Online"));
    setWindowIcon(QIcon(QPixmap(QStringLiteral(":/pictures/icon.png"), "PNG")));
    buildWindow();
    buildMenu();
    connectHandlers();
    connectSession();
    showAvatarChoice();
    QAccessible::installActivationObserver(this);
    setFixedSize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
}

frmMain::~frmMain()
{
    QAccessible::removeActivationObserver(this);
    // Children outlive this destructor for a moment; none of their last signals
    // (the socket closing, focus moving) may reach a handler.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
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
    txtOutput->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(txtOutput, &QWidget::customContextMenuRequested, this, &frmMain::txtOutput_ContextMenu);
    for (int i = 0; i < StageRules::ImageCount; ++i) {
        imgClient[std::size_t(i)]->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(imgClient[std::size_t(i)], &QWidget::customContextMenuRequested, this,
                [this, i](const QPoint &pos) { imgClient_ContextMenu(i, pos); });
    }
    connect(Haps, &PictureBox::KeyDown, this, &frmMain::Haps_KeyDown);
    connect(Picture1, &PictureBox::KeyDown, this, &frmMain::Picture1_KeyDown);
}

void frmMain::connectSession()
{
    ClientSession *s = m_session;
    connect(s, &ClientSession::numberChanged, this, &frmMain::showNumber);
    connect(s, &ClientSession::lastPieceChanged, lblGetBla, &QLabel::setText);
    connect(s, &ClientSession::readoutChanged, Label5, &QLabel::setText);
    connect(s, &ClientSession::transcriptChanged, txtOutput, &TranscriptBox::changed);
    // Why a line stays in the box is read out with the box.
    connect(s, &ClientSession::chatRefusalChanged, txtInput, &QLineEdit::setAccessibleDescription);
    // A label's caption is read out as its description, under a name that
    // says what it shows.
    connect(s, &ClientSession::readoutChanged, Label5, &QLabel::setAccessibleDescription);
    connect(s, &ClientSession::avatarChanged, this, &frmMain::showAvatarChoice);
    connect(s, &ClientSession::facingChanged, this, [this] {
        YourWay->setText(m_session->facing() == Direction::Left ? QStringLiteral("Left")
                                                                : QStringLiteral("Right"));
    });
    connect(s, &ClientSession::imageChanged, this, [this](int index) {
        imgClient[std::size_t(index)]->follow(m_session->shownImage(index));
        describeStage(index);
    });
}

void frmMain::showNumber(qint64 number)
{
    const QString text = QString::number(number);
    lblClientNumber->setText(text);
    lblClientNumber->setAccessibleDescription(text);
}

void frmMain::showAvatarChoice()
{
    lblDisplayWhoYouAre->setText(m_session->displayName());
    lblDisplayWhoYouAre->setAccessibleDescription(m_session->displayName());
    WhoAreYou->setText(m_session->code());
    for (ImageControl *choice : Picture1->items())
        choice->setChosen(choice->accessibleName() == m_session->displayName());
}

void frmMain::accessibilityActiveChanged(bool active)
{
    m_describing = active;
    if (active)
        describeStage();
}

// Who stands on the stage, and where from the own avatar; assistive
// technology hears of each who comes and goes. Where nothing reads them,
// the names are left until something does: a step costs no words.
void frmMain::describeStage(int changed)
{
    const auto own = m_session->ownImage();
    const AvatarImage *ownImage = own ? &m_session->image(*own) : nullptr;
    const bool everyone = changed < 0 || changed == own;
    for (int i = 0; i < StageRules::ImageCount; ++i) {
        if (!everyone && i != changed)
            continue;
        ImageControl *image = imgClient[std::size_t(i)];
        const bool present = StagePeople::onStage(m_session->shownImage(i));
        if (present && m_describing) {
            const QString name = StagePeople::describe(i, m_session->image(i), own, ownImage);
            if (image->accessibleName() != name)
                image->setAccessibleName(name);
        }
        if (present == m_onStage[std::size_t(i)])
            continue;
        m_onStage[std::size_t(i)] = present;
        QAccessibleEvent event(image,
                               present ? QAccessible::ObjectCreated : QAccessible::ObjectDestroyed);
        QAccessible::updateAccessibility(&event);
    }
}

// ---- looking away

std::unique_ptr<QMenu> frmMain::imgClient_Menu(int index)
{
    auto menu = std::make_unique<QMenu>(this);
    if (index != m_session->ownImage()) {
        menu->addAction(tr("Ignore client %1").arg(index), this,
                        [this, index] { m_session->ignoreClient(index); });
        // The wire does not say who speaks under which avatar: the user may.
        QMenu *with = nullptr;
        for (const QString &name : m_session->ignoring().heard()) {
            if (name == m_session->UserName())
                continue;
            if (!with)
                with = menu->addMenu(tr("Ignore client %1 and the lines of").arg(index));
            with->addAction(name, this, [this, index, name] {
                m_session->ignoreClient(index);
                m_session->ignoreSpeaker(name);
            });
        }
    }
    addStopIgnoring(menu.get());
    return menu;
}

std::unique_ptr<QMenu> frmMain::txtOutput_Menu(const QPoint &pos)
{
    std::unique_ptr<QMenu> menu(txtOutput->createStandardContextMenu(pos));
    const QString line = txtOutput->cursorForPosition(pos).block().text();
    const std::optional<QString> speaker = IgnoreList::speakerOf(line);
    if (speaker && *speaker != m_session->UserName()) {
        menu->addSeparator();
        menu->addAction(tr("Ignore %1").arg(*speaker), this,
                        [this, name = *speaker] { m_session->ignoreSpeaker(name); });
    }
    addStopIgnoring(menu.get());
    return menu;
}

void frmMain::addStopIgnoring(QMenu *menu)
{
    const QList<IgnoreList::Entry> &entries = m_session->ignoring().entries();
    if (entries.isEmpty())
        return;
    QMenu *back = menu->addMenu(tr("Stop ignoring"));
    for (qsizetype i = 0; i < entries.size(); ++i)
        back->addAction(IgnoreList::describe(entries[i]), this,
                        [this, i] { m_session->stopIgnoring(i); });
}

void frmMain::imgClient_ContextMenu(int index, const QPoint &pos)
{
    imgClient_Menu(index)->exec(imgClient[std::size_t(index)]->mapToGlobal(pos));
}

void frmMain::txtOutput_ContextMenu(const QPoint &pos)
{
    txtOutput_Menu(pos)->exec(txtOutput->viewport()->mapToGlobal(pos));
}

// ---- lifecycle

void frmMain::Form_Load()
{
    mnuDisconnect->setEnabled(false);
    m_session->refreshReadout();
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
    if (!m_session->isClosed())
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

void frmMain::Haps_KeyDown(int keyCode)
{
    if (keyCode == Qt::Key_Left)
        cmdLeft_Click();
    else if (keyCode == Qt::Key_Right)
        cmdRight_Click();
}

void frmMain::Picture1_KeyDown(int keyCode)
{
    const QList<ImageControl *> choices = Picture1->items();
    qsizetype at = 0;
    while (at < choices.size() && !choices[at]->chosen())
        ++at;
    if (keyCode == Qt::Key_Left || keyCode == Qt::Key_Up)
        --at;
    else if (keyCode == Qt::Key_Right || keyCode == Qt::Key_Down)
        ++at;
    else
        return;
    if (at >= 0 && at < choices.size())
        choices[at]->press();
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
    if (!m_pref) {
        m_pref = new frmPref(this);
        connect(m_pref, &frmPref::colourChosen, this, &frmMain::applyChatColour);
    }
    if (m_pref->isVisible()) {
        m_pref->raise();
        m_pref->activateWindow();
        return;
    }
    m_pref->Form_Load(txtOutput->palette());
    m_pref->show();
}

// Both chat boxes always share their colours.
void frmMain::applyChatColour(QPalette::ColorRole role, const QColor &colour)
{
    for (QWidget *box : {static_cast<QWidget *>(txtInput), static_cast<QWidget *>(txtOutput)}) {
        QPalette p = box->palette();
        p.setColor(role, colour);
        box->setPalette(p);
    }
}
