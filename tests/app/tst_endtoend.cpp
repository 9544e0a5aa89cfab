// SPDX-License-Identifier: MIT
#include "app/ImageControl.h"
#include "app/frmMain.h"
#include "net/Wsk.h"
#include "server/stage/StageServer.h"

#include <QLabel>
#include <QTest>

// Two client windows and the real server on loopback.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void bothConnectAndGetTheirNumbers()
    {
        ServerSettings quiet;
        quiet.notices = false;
        StageServer server(quiet);
        server.setLog([](const QString &) {});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        frmMain a;
        frmMain b;
        for (frmMain *form : {&a, &b}) {
            form->session().setDefaultPort(server.port());
            form->setEndProgram([] {});
            form->Form_Load();
            form->show();
        }
        a.cmdConnection_Click();
        QTRY_VERIFY(a.session().numbered()); // given by the server, not the label's "0"
        QCOMPARE(a.lblClientNumber->text(), QStringLiteral("0"));
        QTRY_COMPARE(server.joinedCount(), 1);
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
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
