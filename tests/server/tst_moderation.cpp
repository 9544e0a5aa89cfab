// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

// The operator's commands through `quandrel-server ctl` against the real
// server: each command and its exit status, what the stage's participants
// see of it, the ban file across a restart and a crash, and who may not
// give commands at all.
class TestModeration : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString control() const { return dir.filePath(QStringLiteral("control")); }
    QString banPath() const { return dir.filePath(QStringLiteral("bans")); }

    void writeBans(const QByteArray &text)
    {
        QFile file(banPath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(banPath()));
        file.write(text);
    }
    QByteArray bans() const
    {
        QFile file(banPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Started, and taking commands: the socket comes after the stage's ports.
    bool start(ServerProcess &server, const QStringList &more = {})
    {
        return server.start(QStringList{QStringLiteral("--control"), control(),
                                        QStringLiteral("--ban-file"), banPath()} +
                            more) &&
               QTest::qWaitFor(
                   [&] { return server.log().contains(QStringLiteral("commands on ")); }, 5000);
    }

    struct Run
    {
        int exit;
        QString out;
        QString err;
    };
    // The tool, as `prefix` runs it (setpriv, say) when given.
    Run ctl(const QStringList &arguments, const QStringList &prefix = {})
    {
        QProcess tool;
        const QStringList all =
            QStringList{QStringLiteral("ctl"), QStringLiteral("--control"), control()} + arguments;
        if (prefix.isEmpty())
            tool.start(QStringLiteral(QUANDREL_SERVER), all);
        else
            tool.start(prefix.front(),
                       prefix.mid(1) + QStringList{QStringLiteral(QUANDREL_SERVER)} + all);
        if (!tool.waitForFinished(15000))
            qFatal("ctl %s did not finish", qPrintable(arguments.join(u' ')));
        return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()),
                QString::fromUtf8(tool.readAllStandardError())};
    }

    static QByteArray notice(const QByteArray &text) { return "[Quandrel] - " + text + "\r\n"; }

    // The first line of the answer to GET `path` on the figures' port.
    static QByteArray statusOf(quint16 port, const QByteArray &path)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(2000))
            return {};
        socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray answer;
        while (!answer.contains("\r\n") && socket.waitForReadyRead(2000))
            answer += socket.readAll();
        return answer.left(answer.indexOf("\r\n"));
    }

private slots:
    void init() { writeBans("# the operator's own comment\n127.0.9.9  # an old pest\n"); }

    void whoAndStatusTellWhoIsThere()
    {
        ServerProcess server;
        QVERIFY(start(server));
        StagePeer gimbo(server.port());
        QCOMPARE(gimbo.join("Gimbo"), 0);
        StagePeer waiting(server.port(), QHostAddress(QStringLiteral("127.0.0.7")));
        waiting.write(QByteArray("\x02", 1)); // connected, not joined
        QTRY_VERIFY(ctl({QStringLiteral("who")}).out.contains(QStringLiteral("waiting")));

        const Run who = ctl({QStringLiteral("who")});
        QCOMPARE(who.exit, 0);
        QVERIFY2(who.out.startsWith(QStringLiteral("ok: 2 connected\n0 Gimbo (joined as Gimbo) "
                                                   "TCP 127.0.0.1, on the stage for ")),
                 qPrintable(who.out));
        QVERIFY(who.out.contains(QStringLiteral(", 1 packets, 7 bytes\n")));
        QVERIFY(who.out.endsWith(QStringLiteral("- waiting TCP 127.0.0.7\n")));

        const Run json = ctl({QStringLiteral("--json"), QStringLiteral("who")});
        QCOMPARE(json.exit, 0);
        const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QVERIFY(object.value(QStringLiteral("ok")).toBool());
        const QJsonArray people = object.value(QStringLiteral("people")).toArray();
        QCOMPARE(people.size(), 2);
        QCOMPARE(people[0].toObject().value(QStringLiteral("shown_name")).toString(), "Gimbo");
        QCOMPARE(people[0].toObject().value(QStringLiteral("carrier")).toString(), "TCP");
        QVERIFY(people[1].toObject().value(QStringLiteral("waiting")).toBool());

        const Run status = ctl({QStringLiteral("--json"), QStringLiteral("status")});
        const QJsonObject figures = QJsonDocument::fromJson(status.out.toUtf8()).object();
        QCOMPARE(figures.value(QStringLiteral("places_taken")).toInt(), 1);
        QCOMPARE(figures.value(QStringLiteral("waiting")).toInt(), 1);
        QCOMPARE(figures.value(QStringLiteral("bans")).toInt(), 1);
        QCOMPARE(figures.value(QStringLiteral("closed")).toBool(), false);
    }

    void badCommandsGetAClearErrorAndAStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown") << QStringList{"frob"} << 1 << "unknown command \"frob\"";
        QTest::newRow("not a number") << QStringList{"kick", "x"} << 1 << "no client number";
        QTest::newRow("nobody there")
            << QStringList{"kick", "7"} << 1 << "nobody on the stage has number 7";
        QTest::newRow("bad duration")
            << QStringList{"mute", "0", "5y"} << 1 << "\"5y\" is no duration";
        QTest::newRow("nothing to say") << QStringList{"say"} << 1 << "usage: say TEXT";
        QTest::newRow("not banned")
            << QStringList{"unban", "127.0.5.5"} << 1 << "127.0.5.5 is not banned";
        QTest::newRow("no command") << QStringList{} << 2 << "usage: quandrel-server ctl";
        QTest::newRow("nobody there, in JSON")
            << QStringList{"--json", "kick", "7"} << 1
            << "{\"error\":\"nobody on the stage has number 7\",\"ok\":false}";
    }
    void badCommandsGetAClearErrorAndAStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit);
        QFETCH(QString, says);
        ServerProcess server;
        QVERIFY(start(server));
        const Run run = ctl(arguments);
        QCOMPARE(run.exit, exit);
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
    }

    void noServerThereIsItsOwnStatus()
    {
        const Run run = ctl({QStringLiteral("who")});
        QCOMPARE(run.exit, 3);
    }

    void kickMuteSayAndCloseActOnTheStage()
    {
        ServerProcess server;
        QVERIFY(start(server, {QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0")}));
        QCOMPARE(statusOf(server.metricsPort(), "/readyz"), "HTTP/1.1 200 OK");
        StagePeer host(server.port());
        QCOMPARE(host.join("Host"), 0);
        StagePeer pest(server.port());
        QCOMPARE(pest.join("Pest"), 1);
        QVERIFY(host.waitForPackets(2)); // Pest's NewUser and join notice

        // Muted: Pest's lines go nowhere and Pest is told; its steps still go.
        QCOMPARE(ctl({"mute", "1", "10m", "calm down"}).exit, 0);
        QVERIFY(pest.waitForPackets(pest.packets().size() + 1));
        QVERIFY(pest.packets().last().contains("The operator has muted you"));
        qsizetype seen = host.packets().size();
        pest.send("[Pest] - rude words\r\n");
        pest.send("Action1GoRightSorraX1800Y480Z");
        QVERIFY(host.waitForPackets(seen + 1));
        QCOMPARE(host.packets().last(), "Action1GoRightSorraX1800Y480Z");
        QVERIFY(!host.packets().mid(seen).contains("[Pest] - rude words\r\n"));
        QVERIFY(ctl({"who"}).out.contains(QStringLiteral(", muted")));
        QCOMPARE(ctl({"unmute", "1"}).exit, 0);
        seen = host.packets().size();
        pest.send("[Pest] - sorry\r\n");
        QVERIFY(host.waitForPackets(seen + 1));
        QCOMPARE(host.packets().last(), "[Pest] - sorry\r\n");

        seen = host.packets().size();
        QCOMPARE(ctl({"say", "The", "stage", "closes", "at", "ten"}).exit, 0);
        QVERIFY(host.waitForPackets(seen + 1));
        QCOMPARE(host.packets().last(), notice("The stage closes at ten"));

        // Removed: everyone is told, and its image leaves the stage.
        seen = host.packets().size();
        QCOMPARE(ctl({"kick", "1", "rude"}).exit, 0);
        QVERIFY(pest.waitForClose());
        QVERIFY(host.waitForPackets(seen + 1));
        QCOMPARE(host.packets().at(seen), notice("Pest left the stage (removed by the operator)"));
        QVERIFY(server.log().contains(QStringLiteral("kick 1 rude: done")));

        // Closed: joins are refused with a word, those on the stage stay.
        QCOMPARE(ctl({"close"}).exit, 0);
        StagePeer late(server.port());
        late.write(QByteArray("\x0ALate\0", 6));
        QVERIFY(late.waitForClose());
        QCOMPARE(late.packets(), QList<QByteArray>{notice("The stage is closed for a moment")});
        QVERIFY(host.isConnected());
        // The orchestrator's probe says so too; the process still serves.
        QCOMPARE(statusOf(server.metricsPort(), "/readyz"), "HTTP/1.1 503 Service Unavailable");
        QCOMPARE(statusOf(server.metricsPort(), "/healthz"), "HTTP/1.1 200 OK");
        QCOMPARE(ctl({"open"}).exit, 0);
        StagePeer later(server.port());
        QCOMPARE(later.join("Later"), 1);
    }

    void aBanActsAtOnceAndOutlivesARestart()
    {
        {
            ServerProcess server;
            QVERIFY(start(server));
            StagePeer host(server.port());
            QCOMPARE(host.join("Host"), 0);
            StagePeer pest(server.port(), QHostAddress(QStringLiteral("127.0.0.5")));
            QCOMPARE(pest.join("Pest"), 1);
            const Run ban = ctl({"ban", "1", "flooding"});
            QCOMPARE(ban.exit, 0);
            QCOMPARE(ban.out, QStringLiteral("ok: banned 127.0.0.5\n"));
            QVERIFY(pest.waitForClose());
            QCOMPARE(ctl({"ban", "name:Troll", "1d"}).exit, 0);
            const Run list = ctl({"--json", "bans"});
            QCOMPARE(QJsonDocument::fromJson(list.out.toUtf8())
                         .object()
                         .value(QStringLiteral("bans"))
                         .toArray()
                         .size(),
                     3);
        }
        // The operator's lines and comments stay, the new bans follow them.
        const QByteArray text = bans();
        QVERIFY(text.startsWith("# the operator's own comment\n127.0.9.9  # an old pest\n"));
        QVERIFY(text.contains("\n127.0.0.5  # by the operator "));
        QVERIFY(text.contains(": flooding\n"));
        QVERIFY(text.contains("\nname:Troll until="));

        ServerProcess again;
        QVERIFY(start(again));
        StagePeer pest(again.port(), QHostAddress(QStringLiteral("127.0.0.5")));
        QVERIFY(pest.waitForClose());
        StagePeer troll(again.port());
        troll.write(QByteArray("\x0ATroll\0", 7));
        QVERIFY(troll.waitForClose());

        QCOMPARE(ctl({"unban", "127.0.0.5"}).exit, 0);
        StagePeer back(again.port(), QHostAddress(QStringLiteral("127.0.0.5")));
        QCOMPARE(back.join("Back"), 0);
        QVERIFY(!bans().contains("127.0.0.5"));
    }

    void aBanForAWhileEndsByItself()
    {
        ServerProcess server;
        QVERIFY(start(server));
        QCOMPARE(ctl({"ban", "127.0.0.6", "2s"}).exit, 0);
        {
            StagePeer pest(server.port(), QHostAddress(QStringLiteral("127.0.0.6")));
            QVERIFY(pest.waitForClose());
        }
        // Read again once it expires, and gone from the file at the next write.
        QTRY_VERIFY_WITH_TIMEOUT(server.log().count(QStringLiteral(": 1 ban(s)")) >= 2, 5000);
        StagePeer back(server.port(), QHostAddress(QStringLiteral("127.0.0.6")));
        QCOMPARE(back.join("Back"), 0);
        QCOMPARE(ctl({"ban", "name:Other"}).exit, 0);
        QVERIFY(!bans().contains("127.0.0.6"));
    }

    void aCrashWhileWritingLeavesAWholeFile()
    {
        const QByteArray before = bans();
        ServerProcess server;
        qputenv("QUANDREL_TEST_FAULT", "crash-mid-ban-write");
        const bool started = start(server);
        qunsetenv("QUANDREL_TEST_FAULT");
        QVERIFY(started);
        QCOMPARE(ctl({"ban", "127.0.0.8"}).exit, 5); // no answer: the server is gone
        QVERIFY(server.exitCode() != -1);            // it has ended
        QCOMPARE(bans(), before);
        const QStringList left =
            QDir(dir.path()).entryList({QStringLiteral("bans.*")}, QDir::Files);
        QVERIFY(left.size() <= 1); // the torn temporary file, never the ban file
        ServerProcess again;
        QVERIFY(start(again));
        QVERIFY(again.log().contains(banPath() + QStringLiteral(": 1 ban(s)")));
        for (const QString &name : left)
            QFile::remove(dir.filePath(name));
    }

    void onlyTheServersUserRootAndAdminsMayCommand()
    {
        if (::geteuid() != 0)
            QSKIP("running the tool as nobody needs root");
        ServerProcess server;
        QVERIFY(start(server));
        const QStringList asNobody{QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                                   QStringLiteral("--regid=nogroup"),
                                   QStringLiteral("--clear-groups")};
        // The file's mode keeps nobody out...
        Run run = ctl({"who"}, asNobody);
        QCOMPARE(run.exit, 4);
        QVERIFY2(run.err.contains(QStringLiteral("permission denied")), qPrintable(run.err));
        // ...and so does the server, whatever the mode.
        QFile::setPermissions(control(), QFileDevice::Permissions(0x6666));
        QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));
        run = ctl({"kick", "0"}, asNobody);
        QCOMPARE(run.exit, 4);
        QVERIFY2(run.err.contains(QStringLiteral("uid 65534 is neither root")),
                 qPrintable(run.err));
        QVERIFY(server.log().contains(QStringLiteral("control: refused uid 65534")));
    }

    void aLineThatNeverEndsIsCut()
    {
        ServerProcess server;
        QVERIFY(start(server));
        QLocalSocket socket;
        socket.connectToServer(control());
        QVERIFY(socket.waitForConnected());
        socket.write(QByteArray(5000, 'w'));
        QTRY_VERIFY(socket.state() != QLocalSocket::ConnectedState || socket.bytesAvailable() > 0);
        QTRY_VERIFY(socket.state() == QLocalSocket::UnconnectedState);
        QVERIFY(socket.readAll().startsWith("error: the line is longer than 1023 bytes"));
    }
};

QTEST_GUILESS_MAIN(TestModeration)
#include "tst_moderation.moc"
