// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "TestForm.h"
#include "app/ImageControl.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "client/SessionProbe.h"
#include "net/Wsk.h"

#include <QLabel>
#include <QMenu>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <memory>

// The stage in the main window: choosing an avatar, walking, placing what
// the server relays, and the readout. The rules of walking and answering
// newcomers are tested on the session alone (tests/client).
class TestStage : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<frmMain> form;

    void connectAs(const QByteArray &number)
    {
        form->cmdConnection_Click();
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(form->session().State(), 7);
        QVERIFY(server->waitForBytes(1));
        server->send("ClientNumber" + number);
        QTRY_VERIFY(form->session().numbered());
        QCOMPARE(form->lblClientNumber->text(), QString::fromLatin1(number));
        // With its number, the client stands on every stage at once.
        if (number.toInt() <= 20)
            QTRY_VERIFY(server->received.contains("Action" + number + "StLeft" +
                                                  form->WhoAreYou->text().toLatin1() + "X1800"));
        server->received.clear();
    }

    void serverSays(const QByteArray &bytes)
    {
        server->send(bytes);
        QByteArray last;
        for (const QByteArray &piece : bytes.split('\0'))
            last = piece.isEmpty() ? last : piece;
        QTRY_COMPARE(form->lblGetBla->text(), QString::fromLatin1(last));
        QTRY_VERIFY(form->session().queuedActions() == 0 &&
                    SessionProbe(form->session()).settled());
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeServer>();
        form = makeTestForm(server->port());
    }
    void cleanup()
    {
        form.reset();
        server.reset();
    }

    void choosingAnAvatar()
    {
        form->Jaxorin_Click();
        QCOMPARE(form->lblDisplayWhoYouAre->text(), QStringLiteral("Jaxorin"));
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Jaxo "));
        form->Nubo_Click();
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Nubo "));
        QCOMPARE(form->lblDisplayWhoYouAre->text(), QStringLiteral("Nubo"));
        // A click with the mouse reaches the same handler.
        QTest::mouseClick(form->Sorra, Qt::LeftButton);
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Sorra"));
        connectAs("0");
        form->Tavro_Click(); // connected: the avatar stays
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Sorra"));
        QCOMPARE(form->lblDisplayWhoYouAre->text(), QStringLiteral("Sorra"));
        for (ImageControl *image : form->imgClient)
            QVERIFY(image->picture().isNull()); // choosing shows nothing on the stage
    }

    void stepsCarryThePositionBeforeTheStep()
    {
        connectAs("3");
        form->cmdLeft_Click();
        QCOMPARE(server->take(30), QByteArray("\x02"
                                              "Action3GoLeftGimboX1800Y480Z\0",
                                              30));
        QCOMPARE(form->imgClient[3]->Left(), 1750.0f);
        form->cmdLeft_Click();
        QCOMPARE(server->take(30), QByteArray("\x02"
                                              "Action3GoLeftGimboX1750Y480Z\0",
                                              30));
        QCOMPARE(form->imgClient[3]->Left(), 1700.0f);
        QCOMPARE(form->YourWay->text(), QStringLiteral("Left"));
        form->cmdRight_Click();
        QCOMPARE(server->take(31), QByteArray("\x02"
                                              "Action3GoRightGimboX1700Y480Z\0",
                                              31));
        QCOMPARE(form->imgClient[3]->Left(), 1750.0f);
        QCOMPARE(form->YourWay->text(), QStringLiteral("Right"));
        QCOMPARE(form->imgClient[0]->Left(), 1800.0f); // only the own image moves
        QTRY_COMPARE(form->Label5->text(), QStringLiteral("1750"));
        // The walking buttons never give the own image a picture.
        QVERIFY(form->imgClient[3]->picture().isNull());
    }

    void relayedPacketsPlaceTheImages()
    {
        connectAs("0");
        serverSays(QByteArray("Action4GoLeftGimboX1800Y480Z\0", 29));
        ImageControl *four = form->imgClient[4];
        QCOMPARE(four->Left(), 1750.0f);
        QCOMPARE(four->pictureName(), QStringLiteral("GimboLeft"));
        QCOMPARE(four->picture().size(), QSize(15, 31));
        QCOMPARE(four->Top() + four->Height(), form->Ground->Top()); // on the ground
        QCOMPARE(four->geometry(), QRect(117, 41, 15, 31));
        serverSays(QByteArray("Action8GoRightJaxo X1800Y480Z\0", 30));
        QCOMPARE(form->imgClient[8]->Left(), 1850.0f);
        QCOMPARE(form->imgClient[8]->pictureName(), QStringLiteral("JaxoRight"));
        // The own client number is applied like any other.
        serverSays(QByteArray("Action0GoRightNubo X1800Y480Z\0", 30));
        QCOMPARE(form->imgClient[0]->Left(), 1850.0f);
        QCOMPARE(form->imgClient[0]->pictureName(), QStringLiteral("NuboRight"));
        QTRY_COMPARE(form->Label5->text(), QStringLiteral("1850"));
        // Images far outside the stage are clipped, not a problem.
        serverSays(QByteArray("Action7GoLeftVeck X9999Y480Z\0", 29));
        QCOMPARE(form->imgClient[7]->Left(), 9949.0f);
    }

    // Looking away through the menus: an avatar's hides it, a line's hides
    // the speaker's lines behind one placeholder, and both are undone from
    // the list or end when the participant leaves.
    void ignoringFromTheMenus()
    {
        connectAs("0");
        serverSays(QByteArray("Action4GoLeftGimboX1800Y480Z\0", 29));
        QVERIFY(form->imgClient[4]->isVisible());
        const auto trigger = [](QMenu *menu, const QString &text) {
            for (QAction *action : menu->actions()) {
                if (action->text() == text) {
                    action->trigger();
                    return true;
                }
            }
            return false;
        };
        // Nobody ignores themselves.
        QVERIFY(!trigger(form->imgClient_Menu(0).get(), QStringLiteral("Ignore client 0")));
        QVERIFY(trigger(form->imgClient_Menu(4).get(), QStringLiteral("Ignore client 4")));
        QVERIFY(!form->imgClient[4]->isVisible());
        serverSays(QByteArray("Action4GoLeftGimboX1750Y480Z\0", 29));
        QVERIFY(!form->imgClient[4]->isVisible()); // steps do not bring it back

        serverSays(QByteArray("[Pest] - first\r\n\0", 17));
        QTRY_VERIFY2(form->txtOutput->toPlainText().contains(QStringLiteral("[Pest] - first")),
                     qPrintable(form->txtOutput->toPlainText().right(40)));
        QTextCursor line = form->txtOutput->document()->find(QStringLiteral("[Pest] - first"));
        QVERIFY(!line.isNull());
        const QPoint pestLine = form->txtOutput->cursorRect(line).center();
        QVERIFY(trigger(form->txtOutput_Menu(pestLine).get(), QStringLiteral("Ignore Pest")));
        serverSays(QByteArray("[Pest] - second\r\n\0[Pest] - third\r\n\0", 36));
        QTRY_VERIFY2(form->txtOutput->toPlainText().contains(
                         QStringLiteral("[Pest] - first\n\nlines from Pest are hidden")),
                     qPrintable(form->txtOutput->toPlainText().right(60)));
        QVERIFY(!form->txtOutput->toPlainText().contains(QStringLiteral("second")));

        // Undone from the list: the avatar shows again.
        std::unique_ptr<QMenu> menu = form->imgClient_Menu(5);
        QMenu *list = nullptr;
        for (QAction *action : menu->actions())
            list = action->menu() ? action->menu() : list;
        QVERIFY(list);
        QVERIFY(trigger(list, QStringLiteral("client 4")));
        QVERIFY(form->imgClient[4]->isVisible());
        // A leave ends the other.
        serverSays(QByteArray("[Quandrel] - Pest left the stage\r\n\0", 35));
        QVERIFY(form->session().ignoring().entries().isEmpty());

        // From an avatar's menu, its lines too, under a name the user pairs
        // it with.
        serverSays(QByteArray("Action5GoLeftSorraX1000Y480Z\0[Tom] - hello\r\n\0", 45));
        menu = form->imgClient_Menu(5);
        QMenu *with = nullptr;
        for (QAction *action : menu->actions())
            with = action->text() == QStringLiteral("Ignore client 5 and the lines of")
                       ? action->menu()
                       : with;
        QVERIFY(with);
        QVERIFY(trigger(with, QStringLiteral("Tom")));
        QVERIFY(!form->imgClient[5]->isVisible());
        serverSays(QByteArray("[Tom] - still here\r\n\0", 21));
        QTRY_VERIFY(
            form->txtOutput->toPlainText().endsWith(QStringLiteral("lines from Tom are hidden\n")));
    }

    void randomPacketsNeverCrash()
    {
        connectAs("0");
        QRandomGenerator random(8122026);
        const QByteArray good("Action3GoRightNubo X1850Y465Z");
        const QList<QByteArray> heads = {"Action", "NewUser", "ClientNumber", "[", ""};
        for (int batch = 0; batch < 60; ++batch) {
            QByteArray bytes;
            for (int i = 0; i < 60; ++i) {
                QByteArray packet;
                if (i % 3 == 0) {
                    packet = good.left(random.bounded(good.size() + 1));
                    if (!packet.isEmpty())
                        packet[random.bounded(int(packet.size()))] = char(random.bounded(256));
                } else {
                    packet = heads[random.bounded(int(heads.size()))];
                    const int n = random.bounded(30);
                    for (int k = 0; k < n; ++k)
                        packet.append(char(random.bounded(256)));
                }
                bytes += packet;
                if (random.bounded(4))
                    bytes += '\0';
            }
            server->send(bytes);
            QTest::qWait(2);
        }
        QTRY_VERIFY(SessionProbe(form->session()).settled() &&
                    form->session().queuedActions() == 0);
        QVERIFY(form->txtOutput->isVisible());
        for (ImageControl *image : form->imgClient)
            QVERIFY(std::isfinite(image->Left()) && std::isfinite(image->Top()));
    }
};

QTEST_MAIN(TestStage)
#include "tst_stage.moc"
