// SPDX-License-Identifier: MIT
#include "server/operator/LogSink.h"

#include <QTest>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// The log: it never holds the writer up, and says what it had to drop.
class TestLogSink : public QObject
{
    Q_OBJECT

private slots:
    void aReaderThatStallsLosesLinesNotTheServer()
    {
        int fds[2];
        QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
        ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
        QByteArray logged;
        {
            LogSink sink(QStringLiteral("test: "), fds[1]);
            // Far more than the queue holds, while nobody reads.
            const QString line(200, u'x');
            for (std::size_t i = 0; i < 2 * LogSink::MaxQueuedBytes / 200; ++i)
                sink.write(line);
            // The reader comes back; the next line says how many were lost.
            pollfd pfd{fds[0], POLLIN, 0};
            const auto drain = [&] {
                char chunk[65536];
                while (::poll(&pfd, 1, 100) > 0) {
                    const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
                    if (n <= 0)
                        break;
                    logged.append(chunk, n);
                }
            };
            drain();
            sink.write(QStringLiteral("after"));
            QVERIFY(QTest::qWaitFor(
                [&] {
                    drain();
                    return logged.contains("after");
                },
                5000));
        }
        ::close(fds[1]);
        ::close(fds[0]);
        QVERIFY(logged.contains("log lines dropped: standard error was not read"));
        for (const QByteArray &line : logged.split('\n')) {
            if (!line.isEmpty())
                QVERIFY2(line.startsWith("test: "), line.left(40).constData());
        }
    }
};

QTEST_APPLESS_MAIN(TestLogSink)
#include "tst_logsink.moc"
