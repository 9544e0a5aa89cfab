// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

// The shipped Fail2Ban filter, run by Debian's fail2ban-regex over what the
// real server logs: it finds every deliberate abuse, and nothing that a
// victim or an honest user can cause, however often it happens.
class TestFail2Ban : public QObject
{
    Q_OBJECT

    QTemporaryDir controlDir;

    enum class Case
    {
        FullStage,
        ClosedStage,
        SharedAddress,
        WaitingToJoin,
        ConnectFlood,
        CrossSite,
        CrossProtocol,
        ForgedLine,
        RefusedName,
        UnterminatedFlood,
    };

    static QHostAddress from(int last)
    {
        return QHostAddress(QStringLiteral("127.0.0.%1").arg(last));
    }

    // How many lines of the log the filter matches; -1 if it could not run.
    static int matches(const QString &log)
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("fail2ban"));
        if (QProcess::execute(QStringLiteral("cp"),
                              {QStringLiteral("-r"), QStringLiteral("/etc/fail2ban"), config}) != 0)
            return -1;
        const QString filter = config + QStringLiteral("/filter.d/quandrel-server.conf");
        QFile::remove(filter);
        if (!QFile::copy(QStringLiteral(QUANDREL_SOURCE_DIR
                                        "/packaging/fail2ban/quandrel-server.filter.conf"),
                         filter))
            return -1;
        QFile file(dir.filePath(QStringLiteral("server.log")));
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        file.write(log.toUtf8());
        file.close();
        QProcess regex;
        regex.start(QStringLiteral("fail2ban-regex"),
                    {QStringLiteral("--config"), config, file.fileName(),
                     QStringLiteral("quandrel-server")});
        if (!regex.waitForFinished(60'000) || regex.exitCode() != 0)
            return -1;
        static const QRegularExpression total(QStringLiteral("^Failregex: (\\d+) total"),
                                              QRegularExpression::MultilineOption);
        const auto match = total.match(QString::fromUtf8(regex.readAllStandardOutput()));
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    static QByteArray upgrade(quint16 port, const QByteArray &origin)
    {
        return "GET /stage HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
               "\r\nOrigin: " + origin +
               "\r\nConnection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    }

    // Does what the case names, five times where it is a refusal, as often
    // as it takes a jail to ban; the log says so or the test fails.
    static void provoke(ServerProcess &server, Case which)
    {
        std::vector<std::unique_ptr<StagePeer>> held;
        const auto hold = [&](const QHostAddress &address) {
            held.push_back(std::make_unique<StagePeer>(server.port(), address));
            return held.back().get();
        };
        switch (which) {
        case Case::FullStage:
            for (int i = 0; i < 10; ++i)
                QCOMPARE(hold({})->join("P" + QByteArray::number(i)), i);
            for (int i = 0; i < 5; ++i) {
                StagePeer late(server.port(), from(5));
                QCOMPARE(late.join("Late"), -1);
            }
            QTRY_COMPARE(server.log().count(u"the stage is full"), 5);
            break;
        case Case::ClosedStage: {
            // Closed by the operator: whoever comes meanwhile did nothing.
            QTRY_VERIFY(server.log().contains(u"commands on "));
            QLocalSocket control;
            control.connectToServer(
                server.log().section(QStringLiteral("commands on "), 1).section(u'\n', 0, 0));
            QVERIFY(control.waitForConnected(3000));
            control.write("close\n");
            QByteArray said;
            QTRY_VERIFY2((said += control.readAll()).startsWith("ok"), said.constData());
            for (int i = 0; i < 5; ++i) {
                StagePeer late(server.port(), from(13));
                QCOMPARE(late.join("Late"), -1);
            }
            QTRY_COMPARE(server.log().count(u"the stage is closed"), 5);
            break;
        }
        case Case::SharedAddress:
            QCOMPARE(hold(from(5))->join("Campus"), 0);
            for (int i = 0; i < 5; ++i)
                QVERIFY(hold(from(5))->waitForClose());
            QTRY_COMPARE(server.log().count(u"connections from 127.0.0.5 already"), 5);
            break;
        case Case::WaitingToJoin:
            for (int i = 0; i < 7; ++i)
                hold(from(6));
            QTRY_COMPARE(server.log().count(u"waiting to join already"), 5);
            break;
        case Case::ConnectFlood:
            for (int i = 0; i < 40; ++i)
                hold(from(7));
            QTRY_VERIFY(server.log().contains(u"connections refused from 127.0.0.7"));
            break;
        case Case::CrossSite:
            for (int i = 0; i < 5; ++i) {
                QTcpSocket socket;
                socket.bind(from(8));
                socket.connectToHost(QHostAddress::LocalHost, server.webPort());
                QVERIFY(socket.waitForConnected(3000));
                socket.write(upgrade(server.webPort(), "http://evil.example"));
                QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
            }
            QTRY_COMPARE(server.log().count(u"the page of another site"), 5);
            break;
        case Case::CrossProtocol:
            for (int i = 0; i < 5; ++i) {
                StagePeer visitor(server.port(), from(9));
                visitor.write(QByteArray("POST / HTTP/1.1\r\nHost: x\r\n\r\n\x0AVisitor\0", 38));
                QVERIFY(visitor.waitForClose());
            }
            QTRY_COMPARE(server.log().count(u"not a stage client"), 5);
            break;
        case Case::ForgedLine: {
            StagePeer mallory(server.port(), from(10));
            QCOMPARE(mallory.join("Mallory"), 0);
            mallory.send("Action7GoLeftGimboX1800Y480Z"); // another's number
            QTRY_VERIFY(server.log().contains(u"not relayed from 127.0.0.10"));
            break;
        }
        case Case::RefusedName: {
            StagePeer mallory(server.port(), from(11));
            QCOMPARE(mallory.join("Quandrel"), -1);
            QTRY_VERIFY(server.log().contains(u"refused name"));
            break;
        }
        case Case::UnterminatedFlood: {
            StagePeer flood(server.port(), from(12));
            flood.write('\x02' + QByteArray(70 * 1024, 'a'));
            QVERIFY(flood.waitForClose());
            QTRY_VERIFY(server.log().contains(u"without a terminator"));
            break;
        }
        }
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("fail2ban-regex")).isEmpty() ||
            !QDir(QStringLiteral("/etc/fail2ban")).exists())
            QSKIP("Fail2Ban is not installed");
    }

    void matchesOnlyWhatAnAddressDidOnPurpose_data()
    {
        QTest::addColumn<Case>("which");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("expected");
        const QStringList none;
        QTest::newRow("a full stage") << Case::FullStage << none << 0;
        QTest::newRow("a closed stage")
            << Case::ClosedStage << QStringList{"--control", controlDir.filePath("control")} << 0;
        QTest::newRow("many behind one address")
            << Case::SharedAddress << QStringList{"--max-per-address", "1"} << 0;
        QTest::newRow("many waiting behind one address") << Case::WaitingToJoin << none << 0;
        QTest::newRow("a connect flood")
            << Case::ConnectFlood
            << QStringList{"--connect-rate", "0.01", "--connect-burst", "2", "--log-summary", "0.2"}
            << 0;
        QTest::newRow("a page of another site") << Case::CrossSite << none << 0;
        QTest::newRow("a request from a browser") << Case::CrossProtocol << none << 0;
        QTest::newRow("a forged line") << Case::ForgedLine << none << 1;
        QTest::newRow("a refused name") << Case::RefusedName << none << 1;
        QTest::newRow("a flood without terminators") << Case::UnterminatedFlood << none << 1;
    }
    void matchesOnlyWhatAnAddressDidOnPurpose()
    {
        QFETCH(Case, which);
        QFETCH(QStringList, options);
        QFETCH(int, expected);
        ServerProcess server;
        QVERIFY(server.start(options));
        provoke(server, which);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(matches(server.log()), expected);
    }
};

QTEST_GUILESS_MAIN(TestFail2Ban)
#include "tst_fail2ban.moc"
