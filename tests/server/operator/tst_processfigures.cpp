// SPDX-License-Identifier: MIT
#include "server/operator/ProcessFigures.h"

#include <QDateTime>
#include <QTemporaryFile>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// The process's own figures, as the system tells them.
class TestProcessFigures : public QObject
{
    Q_OBJECT

private slots:
    // Every kind of descriptor counts: files, sockets, pipes.
    void countsEveryOpenDescriptor()
    {
        const double before = ProcessFigures::read().openDescriptors;
        QVERIFY(before >= 3);
        std::vector<std::unique_ptr<QTemporaryFile>> files;
        for (int i = 0; i < 5; ++i) {
            files.push_back(std::make_unique<QTemporaryFile>());
            QVERIFY(files.back()->open());
        }
        int pipe[2];
        QCOMPARE(::pipe(pipe), 0);
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(socket >= 0);
        QCOMPARE(ProcessFigures::read().openDescriptors, before + 5 + 2 + 1);
        ::close(pipe[0]);
        ::close(pipe[1]);
        ::close(socket);
        files.clear();
        QCOMPARE(ProcessFigures::read().openDescriptors, before);
    }

    void tellsMemoryCpuAndStart()
    {
        const StageFigures::Process figures = ProcessFigures::read();
        QVERIFY(figures.residentBytes > 1024 * 1024);
        QVERIFY(figures.maxDescriptors >= figures.openDescriptors);
        QVERIFY(figures.cpuSeconds >= 0);
        // Started within the last day, by the clock the figures use.
        const double now = double(QDateTime::currentSecsSinceEpoch());
        QVERIFY2(figures.startTimeSeconds > now - 86400 && figures.startTimeSeconds <= now + 1,
                 qPrintable(QString::number(figures.startTimeSeconds, 'f', 1)));
    }
};

QTEST_GUILESS_MAIN(TestProcessFigures)
#include "tst_processfigures.moc"
