#include "app/ImageControl.h"
#include "app/frmMain.h"
#include "net/Wsk.h"
#include "server/StageServer.h"

#include <QLabel>
#include <QTest>

// Two client windows and the real server on loopback.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void bothConnectAndGetTheirNumbers()
    {
        StageServer server;
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
        QTRY_COMPARE(a.lblClientNumber->text(), QStringLiteral("0"));
        QTRY_COMPARE(server.joinedCount(), 1);
        b.cmdConnection_Click();
        QTRY_COMPARE(b.lblClientNumber->text(), QStringLiteral("1"));
        QCOMPARE(a.lblClientNumber->text(), QStringLiteral("0"));
        QTRY_COMPARE(a.lblGetBla->text(),
                     QStringLiteral("Action0StLeftGimboX1800")); // A answered B
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
