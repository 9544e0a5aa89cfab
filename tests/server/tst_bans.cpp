// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

// The ban file against the real server binary: who is kept off at connect
// and at the join, and who is removed when the file changes and the server
// is told to read it again.
class TestBans : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QByteArray &text)
    {
        const QString path = dir.filePath(QStringLiteral("bans"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(text);
        return path;
    }

    static QByteArray notice(const QByteArray &text) { return "[Quandrel] - " + text + "\r\n"; }

private slots:
    void addressesAndNamesAreKeptOff()
    {
        ServerProcess server;
        const QString bans = write("127.0.0.2\n127.0.1.0/24\nname:Troll\nnonsense here\n");
        QVERIFY(server.start({QStringLiteral("--ban-file"), bans}));
        QVERIFY(server.log().contains(bans + QStringLiteral(" line 4 skipped")));

        // Closed at once, without a word.
        for (const char *from : {"127.0.0.2", "127.0.1.77"}) {
            StagePeer banned(server.port(), QHostAddress(QString::fromLatin1(from)));
            QVERIFY2(banned.waitForClose(), from);
            QVERIFY(banned.packets().isEmpty());
        }
        StagePeer neighbour(server.port(), QHostAddress(QStringLiteral("127.0.0.3")));
        QCOMPARE(neighbour.join("Neighbour"), 0);

        // A name that looks like a banned one.
        StagePeer troll(server.port());
        troll.write(QByteArray("\x0ATr0ll\0", 7));
        QVERIFY(troll.waitForClose());
        QCOMPARE(troll.packets(), QList<QByteArray>{notice("You cannot join this stage")});
    }

    void aReloadRemovesWhoIsOnTheStage()
    {
        ServerProcess server;
        const QString bans = write("# nobody yet\n");
        QVERIFY(server.start({QStringLiteral("--ban-file"), bans}));
        StagePeer host(server.port());
        QCOMPARE(host.join("Host"), 0);
        StagePeer pest(server.port(), QHostAddress(QStringLiteral("127.0.0.5")));
        QCOMPARE(pest.join("Pest"), 1);
        StagePeer vic(server.port());
        QCOMPARE(vic.join("Vic"), 2);
        QVERIFY(host.waitForPackets(2)); // the NewUser packets
        const qsizetype before = host.packets().size();

        write("127.0.0.5\nname:VIC\n");
        ::kill(pid_t(server.pid()), SIGHUP);
        QVERIFY(pest.waitForClose());
        QVERIFY(vic.waitForClose());
        QVERIFY(host.waitForPackets(before + 4)); // each notice, then each one's step off
        const auto told = host.packets().mid(before);
        QVERIFY(told.contains(notice("Pest was removed from the stage")));
        QVERIFY(told.contains(notice("Vic was removed from the stage")));
        QVERIFY(host.isConnected());
        // Their places are free again, for someone else.
        StagePeer next(server.port());
        QCOMPARE(next.join("Next"), 1);

        // A file that cannot be read keeps the bans as they were.
        QFile::remove(bans);
        ::kill(pid_t(server.pid()), SIGHUP);
        QTRY_VERIFY(server.log().contains(QStringLiteral("the bans stay as they were")));
        StagePeer again(server.port(), QHostAddress(QStringLiteral("127.0.0.5")));
        QVERIFY(again.waitForClose());
    }

    void anUnreadableFileStopsTheStart()
    {
        ServerProcess server;
        QVERIFY(
            !server.start({QStringLiteral("--ban-file"), dir.filePath(QStringLiteral("none"))}));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY(server.log().contains(QStringLiteral("none: ")));
    }

    // A list too long to read whole is refused, never cut short.
    void aFileTooLargeIsRefusedWhole()
    {
        QFile file(dir.filePath(QStringLiteral("large")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray line = "# padding padding padding padding padding padding padding\n";
        for (qint64 written = 0; written <= 16 * 1024 * 1024; written += line.size())
            file.write(line);
        file.write("127.0.0.5\n"); // past the bound: a cut list would let it in
        file.close();
        ServerProcess server;
        QVERIFY(!server.start({QStringLiteral("--ban-file"), file.fileName()}));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY2(server.log().contains(QStringLiteral("large: larger than 16 MiB")),
                 qPrintable(server.log()));
    }
};

QTEST_GUILESS_MAIN(TestBans)
#include "tst_bans.moc"
