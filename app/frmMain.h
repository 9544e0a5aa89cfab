// SPDX-License-Identifier: MIT
#pragma once

#include "app/LayoutFonts.h"
#include "client/ClientSession.h"
#include "stage/StageRules.h"

#include <QAccessible>
#include <QDateTime>
#include <QLocale>
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class ClientSession;
class Graphix;
class ImageControl;
class PictureBox;
class TranscriptBox;
class frmPref;

// The main window: stage, avatar choice, chat and connection. Its controls
// show the session's state; each handler below answers one control event by
// a call into the session.
class frmMain : public QMainWindow, private QAccessible::ActivationObserver
{
    Q_OBJECT
public:
    // Modal input prompt: prompt text, title, default answer; empty when cancelled.
    using Prompt = std::function<QString(const QString &, const QString &, const QString &)>;

    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Seams for tests (production keeps the defaults, except endProgram,
    // which main sets to leave the process).
    void setPrompt(Prompt prompt) { m_prompt = std::move(prompt); }
    void setEndProgram(std::function<void()> end) { m_endProgram = std::move(end); }
    void setClock(std::function<QDateTime()> clock) { m_session->setClock(std::move(clock)); }
    void setTimeLocale(const QLocale &locale) { m_session->setTimeLocale(locale); }
    bool ended() const { return m_ended; }
    frmPref *pref() const { return m_pref; }
    ClientSession &session() const { return *m_session; }

    static constexpr int ClientWidth = 357;  // 5355 twips
    static constexpr int ClientHeight = 288; // 4320 twips

    // Controls, by their names.
    QLineEdit *txtIP;
    QPushButton *cmdConnection;
    PictureBox *Picture1;
    QPushButton *cmdRight;
    QPushButton *cmdLeft;
    PictureBox *Haps;
    QPushButton *cmdPrefs;
    QPushButton *cmdTimeStamp;
    QLineEdit *txtInput;
    TranscriptBox *txtOutput;
    QLabel *Label5;
    QLabel *WhoAreYou;
    QLabel *lblGetBla;
    QLabel *YourWay;
    QLabel *Label4;
    QLabel *lblClientNumber;
    QLabel *Label3;
    QLabel *lblDisplayWhoYouAre;
    ImageControl *Jaxorin;
    ImageControl *Veck;
    ImageControl *Sorra;
    ImageControl *Nubo;
    ImageControl *Gimbo;
    ImageControl *Tavro;
    QLabel *Label1;
    QLabel *Label2;
    std::array<ImageControl *, 21> imgClient;
    ImageControl *Post1;
    ImageControl *Post2;
    ImageControl *Ground;
    ImageControl *imgServer;
    ImageControl *background;
    QMenu *mnuFile;
    QAction *mnuConnect;
    QAction *mnuDisconnect;
    QAction *mnuSep1;
    QAction *mnuExit;

    // Handlers.
    void Form_Load();
    void Form_QueryUnload();
    void mnuExit_Click();
    void mnuConnect_Click();
    void cmdConnection_Click();
    void mnuDisconnect_Click();
    void Tavro_Click() { m_session->selectAvatar(u"Tavro"); }
    void Gimbo_Click() { m_session->selectAvatar(u"Gimbo"); }
    void Nubo_Click() { m_session->selectAvatar(u"Nubo"); }
    void Sorra_Click() { m_session->selectAvatar(u"Sorra"); }
    void Veck_Click() { m_session->selectAvatar(u"Veck"); }
    void Jaxorin_Click() { m_session->selectAvatar(u"Jaxorin"); }
    void cmdLeft_Click() { m_session->walk(Direction::Left); }
    void cmdRight_Click() { m_session->walk(Direction::Right); }
    void txtInput_KeyPress(int keyAscii);
    void txtOutput_Change();
    void txtOutput_GotFocus();
    void cmdTimeStamp_Click();
    void cmdPrefs_Click();
    void Haps_KeyDown(int keyCode);
    void Picture1_KeyDown(int keyCode);
    void imgClient_ContextMenu(int index, const QPoint &pos);
    void txtOutput_ContextMenu(const QPoint &pos);
    // The menus those show: looking away from someone, and back.
    std::unique_ptr<QMenu> imgClient_Menu(int index);
    std::unique_ptr<QMenu> txtOutput_Menu(const QPoint &pos);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void buildMenu();
    void buildPanel();
    void buildStage();
    void connectHandlers();
    void connectSession();
    void switchMenusToConnected();
    void applyChatColour(QPalette::ColorRole role, const QColor &colour);
    void endProgramAtOnce();
    void showNumber(qint64 number);
    void showAvatarChoice();
    void addStopIgnoring(QMenu *menu);
    // Who stands on the stage, for assistive technology: the image that
    // changed, or every one when the own moved or -1 is given.
    void describeStage(int changed = -1);
    void accessibilityActiveChanged(bool active) override;
    Graphix &graphix();

    ClientSession *m_session;
    LayoutFonts m_fonts;
    Prompt m_prompt;
    std::function<void()> m_endProgram;
    std::unique_ptr<Graphix> m_graphix;
    frmPref *m_pref = nullptr;
    bool m_ended = false;
    // Who the stage lists for assistive technology.
    std::array<bool, StageRules::ImageCount> m_onStage{};
    bool m_describing = QAccessible::isActive(); // something reads the names
};
