// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "app/ImageControl.h"
#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "client/SessionProbe.h"
#include "net/Wsk.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

// The main window: layout, the connection controls, dispatch of what the
// server sends, and ending the program.
class TestFrmMain : public QObject
{
    Q_OBJECT

    struct PromptCall
    {
        QString prompt, title, answer;
    };

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<frmMain> form;
    QList<PromptCall> prompts;
    QStringList promptAnswers;
    int endCalls = 0;

    void connectWithButton()
    {
        form->cmdConnection_Click();
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(form->session().State(), 7);
        QVERIFY(server->waitForBytes(1));
    }

    // Sends bytes as the server and lets the window take them in.
    void serverSays(const QByteArray &bytes)
    {
        const QString before = form->lblGetBla->text();
        server->send(bytes);
        (void)QTest::qWaitFor([&] { return form->lblGetBla->text() != before; }, 1000);
        QTest::qWait(20);
    }

    bool enabledAre(bool connect, bool disconnect, bool exit, bool button) const
    {
        return form->mnuConnect->isEnabled() == connect &&
               form->mnuDisconnect->isEnabled() == disconnect &&
               form->mnuExit->isEnabled() == exit && form->cmdConnection->isEnabled() == button;
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeServer>();
        form = std::make_unique<frmMain>();
        prompts.clear();
        promptAnswers.clear();
        endCalls = 0;
        form->session().setDefaultPort(server->port());
        form->setEndProgram([this] { ++endCalls; });
        form->setPrompt([this](const QString &prompt, const QString &title, const QString &answer) {
            prompts.append({prompt, title, answer});
            return promptAnswers.isEmpty() ? QString() : promptAnswers.takeFirst();
        });
        form->setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)); });
        form->setTimeLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
        form->Form_Load();
        form->show();
    }
    void cleanup()
    {
        form.reset();
        server.reset();
    }

    void windowLayout()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Vostrel! - Quandrel Online"));
        QCOMPARE(form->centralWidget()->size(), QSize(357, 288));
        QCOMPARE(form->minimumSize(), form->maximumSize()); // fixed
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form->centralWidget()->palette().color(QPalette::Window), QColor(20, 67, 20));

        QCOMPARE(form->txtIP->geometry(), QRect(240, 128, 105, 19));
        QCOMPARE(form->txtIP->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(form->Haps->geometry(), QRect(0, 152, 169, 97));
        QCOMPARE(form->txtOutput->geometry(), QRect(0, 16, 217, 137));
        QCOMPARE(form->cmdConnection->text(), QStringLiteral("Connect"));
        QCOMPARE(form->cmdTimeStamp->text(), QStringLiteral("Time Stamp"));
        QCOMPARE(form->cmdPrefs->text(), QStringLiteral("Preferences"));
        QCOMPARE(form->cmdLeft->text(), QStringLiteral("<"));
        QCOMPARE(form->cmdRight->text(), QStringLiteral(">"));
        QCOMPARE(form->Label3->text(), QStringLiteral("IP Address of Server:"));
        QCOMPARE(form->Label4->text(), QStringLiteral("Client Number:"));
        QCOMPARE(form->Label1->text(), QStringLiteral("Online"));
        QCOMPARE(form->Label2->text(), QStringLiteral("Quandrel"));
        QCOMPARE(form->txtOutput->palette().color(QPalette::Base), QColor(0, 255, 255));
        QCOMPARE(form->txtInput->palette().color(QPalette::Text), QColor(0, 0, 255));

        // The state the labels hold at start.
        QCOMPARE(form->lblClientNumber->text(), QStringLiteral("0"));
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Gimbo"));
        QCOMPARE(form->lblDisplayWhoYouAre->text(), QStringLiteral("Gimbo"));
        QCOMPARE(form->YourWay->text(), QStringLiteral("Left"));
        QCOMPARE(form->lblGetBla->text(), QStringLiteral("Label5"));
        for (QLabel *hidden : {form->WhoAreYou, form->lblGetBla, form->YourWay})
            QVERIFY(hidden->isHidden());
        QVERIFY(form->imgServer->isHidden());
        for (QLabel *label : form->findChildren<QLabel *>())
            QCOMPARE(label->textFormat(), Qt::PlainText);

        // The stage: 21 empty images at 1800, 480; the readout shows the own one.
        QCOMPARE(form->imgClient.size(), size_t(21));
        for (ImageControl *image : form->imgClient) {
            QCOMPARE(image->Left(), 1800.0f);
            QCOMPARE(image->Top(), 480.0f);
            QVERIFY(image->picture().isNull());
        }
        QTRY_COMPARE(form->Label5->text(), QStringLiteral("1800"));

        // Every caption fits its control.
        for (QLabel *label :
             {form->Label3, form->Label4, form->Label1, form->Label2, form->lblDisplayWhoYouAre})
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <=
                         label->contentsRect().width(),
                     qPrintable(label->objectName()));
    }

    void zOrderAndTabOrder()
    {
        // The time stamp button lies under the stage: the mouse finds the stage.
        QWidget *client = form->centralWidget();
        const QPoint stamp = form->cmdTimeStamp->geometry().center();
        QVERIFY(form->Haps->isAncestorOf(client->childAt(stamp)) ||
                client->childAt(stamp) == form->Haps);
        QCOMPARE(client->childAt(form->cmdConnection->geometry().center()), form->cmdConnection);
        // Every overlap of the layout, in pixels: the upper control is the
        // one the mouse finds where both lie.
        struct Overlap
        {
            QWidget *upper;
            QWidget *lower;
        };
        const QList<Overlap> overlaps = {
            {form->txtInput, form->txtOutput},           // the bottom 255 twips of the transcript
            {form->Haps, form->txtInput},                // the bottom 45 of the entry box
            {form->Haps, form->cmdTimeStamp},            // all of it
            {form->Haps, form->cmdPrefs},                // the top 15 of Preferences
            {form->cmdLeft, form->Haps},                 // the right 15 of the stage
            {form->cmdRight, form->cmdLeft},             // the right 15 of "<"
            {form->Picture1, form->lblDisplayWhoYouAre}, // its top 15
        };
        for (const Overlap &o : overlaps) {
            QVERIFY(o.upper->geometry().intersects(o.lower->geometry()));
            const QPoint at = o.upper->geometry().intersected(o.lower->geometry()).center();
            QWidget *found = client->childAt(at);
            QVERIFY2(found == o.upper || o.upper->isAncestorOf(found),
                     qPrintable(o.upper->objectName() + QStringLiteral(" over ") +
                                o.lower->objectName()));
        }

        // Tab from the entry box reaches the hidden-by-the-stage button, then the rest in order.
        const QList<QWidget *> order = {form->txtInput, form->cmdTimeStamp,  form->cmdPrefs,
                                        form->Haps,     form->cmdLeft,       form->cmdRight,
                                        form->Picture1, form->cmdConnection, form->txtIP};
        for (int i = 0; i + 1 < order.size(); ++i) {
            QWidget *next = order[i]->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus || !next->isVisibleTo(form.get()))
                next = next->nextInFocusChain();
            QCOMPARE(next, order[i + 1]);
        }
    }

    void menu()
    {
        QCOMPARE(form->mnuFile->title(), QStringLiteral("&File"));
        const QList<QAction *> items = form->mnuFile->actions();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[0]->text(), QStringLiteral("&Connect"));
        QCOMPARE(items[1]->text(), QStringLiteral("&Disconnect"));
        QVERIFY(items[2]->isSeparator());
        QCOMPARE(items[3]->text(), QStringLiteral("&Exit"));
        QVERIFY(enabledAre(true, false, true, true)); // after the load step
    }

    void buttonConnectSendsTheAvatarAsName()
    {
        form->Nubo_Click();
        connectWithButton();
        QCOMPARE(server->received, QByteArray("\x0ANubo \0", 7));
        QVERIFY(enabledAre(false, true, false, false));
        QCOMPARE(form->session().UserName(), QStringLiteral("Nubo "));
        QCOMPARE(form->txtOutput->Text(),
                 QStringLiteral("Connected to the server at 14:05:09\r\n"));
        QVERIFY(prompts.isEmpty());

        // Connecting again while connected changes nothing and asks nothing.
        form->mnuConnect_Click();
        form->cmdConnection_Click();
        QVERIFY(prompts.isEmpty());
        QCOMPARE(form->session().State(), 7);

        // Disconnect: the button never comes back; the menu connects again.
        form->mnuDisconnect_Click();
        QCOMPARE(form->session().State(), 0);
        QVERIFY(enabledAre(true, false, true, false));
        promptAnswers = {QString(), QStringLiteral("127.0.0.1")};
        server->received.clear();
        form->mnuConnect_Click();
        QVERIFY(enabledAre(false, true, false, false));
        QVERIFY(server->waitForBytes(2));
        QCOMPARE(server->received, QByteArray("\x0A\0", 2)); // empty user name
    }

    void menuConnectAsksForNameAndAddress()
    {
        promptAnswers = {QStringLiteral("Ann"), QStringLiteral("127.0.0.1")};
        form->mnuConnect_Click();
        QCOMPARE(prompts.size(), 2);
        QCOMPARE(prompts[0].prompt, QStringLiteral("What is your username?"));
        QCOMPARE(prompts[0].title, QStringLiteral("Username"));
        QCOMPARE(prompts[0].answer, QStringLiteral("Guest"));
        QCOMPARE(prompts[1].prompt,
                 QStringLiteral("Enter the IP of the server you wish to connect to."));
        QCOMPARE(prompts[1].title, QStringLiteral("Parlwick"));
        QCOMPARE(prompts[1].answer, QString());
        QVERIFY(enabledAre(false, true, false, true)); // the button is not touched
        QVERIFY(server->waitForBytes(5));
        QCOMPARE(server->received, QByteArray("\x0A"
                                              "Ann\0",
                                              5));
    }

    void startUpOpensNoConnection()
    {
        QTest::qWait(50);
        QCOMPARE(form->session().State(), 0);
        QVERIFY(!server->hasClient());
    }

    void failedConnectIsReportedAndKeepsTheControls()
    {
        server.reset(); // nothing listens on that port any more
        form->cmdConnection_Click();
        QTRY_COMPARE(form->session().State(), 9);
        // Neither way to connect does anything now, and nothing asks.
        form->mnuConnect_Click();
        form->cmdConnection_Click();
        QVERIFY(prompts.isEmpty());
        QCOMPARE(form->session().State(), 9);
        QVERIFY(
            form->txtOutput->Text().startsWith(QStringLiteral("Could not connect to 127.0.0.1: ")));
        QVERIFY(form->txtOutput->Text().endsWith(QStringLiteral("\r\n")));
        QVERIFY(enabledAre(false, true, false, false));
        // Choosing stays as for a socket that is not closed; without a number,
        // walking does nothing.
        form->Veck_Click();
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Gimbo"));
        form->cmdRight_Click();
        QCOMPARE(form->YourWay->text(), QStringLiteral("Left"));
        QCOMPARE(form->imgClient[0]->Left(), 1800.0f);
        form->mnuDisconnect_Click();
        QCOMPARE(form->session().State(), 0);
        form->Veck_Click();
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Veck "));
        QCOMPARE(form->lblDisplayWhoYouAre->text(), QStringLiteral("Veck"));
    }

    void serverCloseIsReported()
    {
        connectWithButton();
        server->closeClient();
        QTRY_COMPARE(form->session().State(), 8);
        QVERIFY(form->txtOutput->Text().contains(
            QStringLiteral("The connection to 127.0.0.1 ended: ")));
        QVERIFY(enabledAre(false, true, false, false));
    }

    void clientNumber()
    {
        connectWithButton();
        // The number never takes in the terminator or the packet after it.
        serverSays(QByteArray("ClientNumber3NewUser\0", 21));
        QCOMPARE(form->lblClientNumber->text(), QStringLiteral("3"));
        QCOMPARE(form->lblGetBla->text(), QStringLiteral("NewUser")); // the last piece
        QTRY_VERIFY(server->received.contains("Action3StLeftGimboX1800"));
        QTRY_COMPARE(form->Label5->text(), QStringLiteral("1800"));
        // Later numbers on the same connection, with digits or without, change nothing.
        serverSays("ClientNumber12");
        QCOMPARE(form->lblClientNumber->text(), QStringLiteral("3"));
        QCOMPARE(form->lblGetBla->text(), QStringLiteral("ClientNumber12"));
        serverSays(QByteArray("ClientNumber\0", 13));
        QCOMPARE(form->lblClientNumber->text(), QStringLiteral("3"));
    }

    void newUsersGetOneAnswerPerTick()
    {
        connectWithButton();
        serverSays("ClientNumber4");
        server->received.clear();
        serverSays(QByteArray("NewUser\0NewUser\0", 16));
        QVERIFY(server->waitForBytes(25));
        QTest::qWait(50);
        QCOMPARE(server->received, QByteArray("\x02"
                                              "Action4StLeftGimboX1800\0",
                                              25));
        QCOMPARE(form->session().LastPacket(), QStringLiteral("NewUser"));
        QVERIFY(!SessionProbe(form->session()).SendUsersYourData().isActive());
        form->cmdRight_Click(); // now facing right, at 1850
        QVERIFY(server->waitForBytes(30));
        server->received.clear();
        serverSays(QByteArray("NewUser\0", 8));
        QVERIFY(server->waitForBytes(26));
        QCOMPARE(server->received, QByteArray("\x02"
                                              "Action4StRightGimboX1850\0",
                                              26));
    }

    void everyActionPacketIsApplied()
    {
        connectWithButton();
        serverSays(QByteArray("Action1GoRightTavroX900Y480Z\0Action2GoLeftSorraX300Y480Z\0", 58));
        QTRY_VERIFY(SessionProbe(form->session()).settled());
        QCOMPARE(form->session().queuedActions(), 0);
        QCOMPARE(form->imgClient[1]->Left(), 950.0f);
        QCOMPARE(form->imgClient[1]->pictureName(), QStringLiteral("TavroRight"));
        QCOMPARE(form->imgClient[2]->Left(), 250.0f);
        QCOMPARE(form->imgClient[2]->pictureName(), QStringLiteral("SorraLeft"));
        QCOMPARE(form->session().LastPacket(), QStringLiteral("Action2GoLeftSorraX300Y480Z"));
        // An Action packet followed by a NewUser packet before the tick: both apply.
        serverSays(QByteArray("Action1GoLeftTavroX950Y480Z\0NewUser\0", 36));
        QTRY_VERIFY(SessionProbe(form->session()).settled());
        QCOMPARE(form->imgClient[1]->Left(), 900.0f);
        QCOMPARE(form->session().LastPacket(), QStringLiteral("NewUser"));
    }

    void chatAndUnknownText()
    {
        connectWithButton();
        const QString before = form->txtOutput->Text();
        serverSays(QByteArray("[Ann] - hi\r\n\0", 13));
        QCOMPARE(form->txtOutput->Text(), before + QStringLiteral("[Ann] - hi\r\n\r\n"));
        serverSays(QByteArray("hello there\0", 12));
        QCOMPARE(form->lblGetBla->text(), QStringLiteral("hello there"));
        serverSays(QByteArray(" Action1GoLeftGimboX1Y1Z\0", 25));
        QCOMPARE(form->txtOutput->Text(), before + QStringLiteral("[Ann] - hi\r\n\r\n"));
        QVERIFY(SessionProbe(form->session()).settled());
        QCOMPARE(form->session().LastPacket(), QString());
    }

    void hostileTextNeverCrashes()
    {
        connectWithButton();
        QByteArray junk;
        for (int i = 0; i < 200000; ++i)
            junk.append(char((i * 7919) % 256));
        junk += QByteArray("Action9GoLeftJaxo X-9999Y1Z\0ClientNumber\xFF\xFE", 41);
        server->send(junk);
        QTest::qWait(300);
        QVERIFY(form->session().queuedActions() <= ClientSession::MaxQueuedActions);
        QTRY_VERIFY(SessionProbe(form->session()).settled());
        form->cmdLeft_Click(); // a client number that names no image: nothing happens
        QCOMPARE(form->session().State(), 7);
    }

    void exitIsDisabledWhileConnected()
    {
        connectWithButton();
        form->mnuExit->trigger();
        QCOMPARE(endCalls, 0);
        form->mnuDisconnect_Click();
        form->mnuExit->trigger();
        QCOMPARE(endCalls, 1);
        QVERIFY(form->ended());
    }

    void closingWhileConnectedEndsAtOnceAndSendsNothing()
    {
        connectWithButton();
        serverSays("ClientNumber0");
        // The join, and the presence answer that the number brings.
        QTRY_COMPARE(server->received, QByteArray("\x0AGimbo\0\x02"
                                                  "Action0StLeftGimboX1800\0",
                                                  32));
        serverSays(QByteArray("NewUser\0", 8)); // an answer is due on the next tick...
        server->received.clear();
        SessionProbe(form->session()).SendUsersYourData().start();
        form->close(); // ...but the window closes first
        QCOMPARE(endCalls, 1);
        QVERIFY(form->ended());
        QVERIFY(!form->isVisible());
        QCOMPARE(form->session().State(), 0);
        QTRY_VERIFY(server->clientGone());
        QTest::qWait(50);
        QCOMPARE(server->received, QByteArray());
        form->close(); // a second request changes nothing
        QCOMPARE(endCalls, 1);
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
