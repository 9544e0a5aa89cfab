// SPDX-License-Identifier: MIT
#include "app/ImageControl.h"
#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "net/Wsk.h"
#include "server/carriers/StageDoor.h"
#include "server/stage/StageServer.h"

#include <QLabel>
#include <QTest>
#include <memory>
#include <vector>

// The real stage on loopback, saying nothing of who joins and leaves.
struct QuietStage
{
    static ServerSettings quiet()
    {
        ServerSettings settings;
        settings.notices = false;
        return settings;
    }
    StageServer server{quiet()};
    StageDoor door{server};

    QuietStage()
    {
        server.setLog([](const QString &) {});
    }
    bool listen() { return door.listen(QHostAddress::LocalHost, 0); }
};

// Two client windows and the real server on loopback.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void bothConnectAndGetTheirNumbers()
    {
        QuietStage stage;
        QVERIFY(stage.listen());
        frmMain a;
        frmMain b;
        for (frmMain *form : {&a, &b}) {
            form->session().setDefaultPort(stage.door.port());
            form->setEndProgram([] {});
            form->Form_Load();
            form->show();
        }
        a.cmdConnection_Click();
        QTRY_VERIFY(a.session().numbered()); // given by the server, not the label's "0"
        QCOMPARE(a.lblClientNumber->text(), QStringLiteral("0"));
        QTRY_COMPARE(stage.server.joinedCount(), 1);
        b.Nubo_Click(); // the button joins under the avatar's name
        b.cmdConnection_Click();
        QTRY_VERIFY(b.session().numbered());
        QCOMPARE(b.lblClientNumber->text(), QStringLiteral("1"));
        QCOMPARE(a.lblClientNumber->text(), QStringLiteral("0"));
        // Each stands on both stages as soon as it has its number.
        QTRY_VERIFY(a.imgClient[1]->isVisible() && b.imgClient[0]->isVisible());
        QTRY_VERIFY(a.imgClient[0]->isVisible() && b.imgClient[1]->isVisible());
        // What A got last is an answer: its own or B's, whichever the stage
        // relayed last.
        QTRY_VERIFY(a.lblGetBla->text() == QStringLiteral("Action0StLeftGimboX1800") ||
                    a.lblGetBla->text() == QStringLiteral("Action1StLeftNubo X1800"));
    }

    // B is 0 and A is 1; B leaves; A connects again and is 0 now: A's stage
    // holds A alone, where a newcomer stands, and A walks from there.
    void reconnectingAfterSomeoneLeftStartsACleanStage()
    {
        QuietStage stage;
        QVERIFY(stage.listen());
        auto b = std::make_unique<frmMain>();
        frmMain a;
        for (frmMain *form : {b.get(), &a}) {
            form->session().setDefaultPort(stage.door.port());
            form->setEndProgram([] {});
            form->Form_Load();
            form->show();
        }
        b->Sorra_Click();
        b->cmdConnection_Click();
        QTRY_VERIFY(b->session().numbered());
        a.cmdConnection_Click();
        QTRY_COMPARE(a.lblClientNumber->text(), QStringLiteral("1"));
        QTRY_VERIFY(a.imgClient[0]->isVisible() && a.imgClient[0]->pictureName() == u"SorraLeft");
        b.reset();
        QTRY_COMPARE(a.imgClient[0]->Left(), -1049.0f); // B stepped off the stage

        a.mnuDisconnect_Click();
        QTRY_COMPARE(stage.server.joinedCount(), 0);
        a.setPrompt([](const QString &prompt, const QString &, const QString &) {
            return prompt.startsWith(u"What") ? QStringLiteral("A") : QStringLiteral("127.0.0.1");
        });
        a.mnuConnect_Click();
        QTRY_VERIFY(a.session().numbered());
        QCOMPARE(a.lblClientNumber->text(), QStringLiteral("0"));
        QTRY_COMPARE(a.imgClient[0]->pictureName(), QStringLiteral("GimboLeft")); // its own
        QCOMPARE(a.imgClient[0]->Left(), 1800.0f);
        QTRY_COMPARE(a.Label5->text(), QStringLiteral("1800"));
        QVERIFY(!a.imgClient[1]->isVisible()); // its old place is empty
        a.cmdLeft_Click();
        QTRY_COMPARE(a.Label5->text(), QStringLiteral("1750"));
    }

    // Six users press Connect with the same avatar; each has a place, and
    // each stage shows exactly who is there, also after one has gone.
    void sixWithOneAvatarSeeExactlyWhoIsThere()
    {
        StageServer server;
        server.setLog([](const QString &) {});
        StageDoor door(server);
        QVERIFY(door.listen(QHostAddress::LocalHost, 0));
        std::vector<std::unique_ptr<frmMain>> forms;
        for (int i = 0; i < 6; ++i) {
            auto form = std::make_unique<frmMain>();
            form->session().setDefaultPort(door.port());
            form->setEndProgram([] {});
            form->Form_Load();
            form->show();
            form->cmdConnection_Click();
            QTRY_VERIFY(form->session().numbered());
            QCOMPARE(form->lblClientNumber->text(), QString::number(i));
            forms.push_back(std::move(form));
        }
        QTRY_VERIFY(
            forms[5]->txtOutput->Text().contains(QStringLiteral("the stage knows you as Gimbo 6")));
        const auto shown = [](frmMain &form) {
            QList<int> numbers;
            for (int n = 0; n < 10; ++n) {
                const ImageControl *image = form.imgClient[n];
                if (image->isVisible() && !image->picture().isNull() &&
                    image->geometry().intersects(form.Haps->rect()))
                    numbers.append(n);
            }
            return numbers;
        };
        for (auto &form : forms)
            form->cmdRight_Click(); // a picture on every stage
        for (auto &form : forms)
            QTRY_COMPARE(shown(*form), (QList<int>{0, 1, 2, 3, 4, 5}));
        forms[2]->mnuDisconnect_Click();
        QTRY_COMPARE(server.joinedCount(), 5);
        for (int i : {0, 1, 3, 4, 5})
            QTRY_COMPARE(shown(*forms[i]), (QList<int>{0, 1, 3, 4, 5}));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
