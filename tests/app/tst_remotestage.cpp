// SPDX-License-Identifier: MIT
#include "app/ImageControl.h"
#include "app/frmMain.h"
#include "client/ClientSession.h"

#include <QFile>
#include <QTest>

// The desktop client on a stage that runs elsewhere, beside a browser page:
// the container check (tests/container/check.sh) gives it the stage's port
// on loopback and a folder where the two say what each has seen. Without
// them there is no stage to join, and it skips.
class TestRemoteStage : public QObject
{
    Q_OBJECT

    static bool seesAnother(const frmMain &form, qint64 own)
    {
        for (std::size_t i = 0; i < form.imgClient.size(); ++i) {
            if (qint64(i) != own && form.imgClient[i]->isVisible())
                return true;
        }
        return false;
    }

private slots:
    void meetsThePage()
    {
        const quint16 port = quint16(qEnvironmentVariableIntValue("QUANDREL_REMOTE_STAGE_PORT"));
        const QString meeting = qEnvironmentVariable("QUANDREL_REMOTE_MEETING");
        if (port == 0 || meeting.isEmpty())
            QSKIP("no stage given: tests/container/check.sh gives one");
        frmMain form;
        form.session().setDefaultPort(port);
        form.setEndProgram([] {});
        form.Form_Load();
        form.show();
        form.cmdConnection_Click();
        QTRY_VERIFY_WITH_TIMEOUT(form.session().numbered(), 30000);
        const qint64 own = *form.session().number();
        QTRY_VERIFY_WITH_TIMEOUT(seesAnother(form, own), 60000);
        QFile saw(meeting + QStringLiteral("/desktop-saw-page"));
        QVERIFY(saw.open(QIODevice::WriteOnly));
        saw.close();
        // Stays on the stage until the page has seen it too.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(meeting + QStringLiteral("/page-saw-desktop")),
                                 60000);
    }
};

QTEST_MAIN(TestRemoteStage)
#include "tst_remotestage.moc"
