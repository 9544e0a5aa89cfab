// SPDX-License-Identifier: MIT
#include "server/operator/ProcessFigures.h"

#include <QDateTime>
#include <QTemporaryFile>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/wait.h>
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

    // Of any process by its id, as the tests and the benchmark ask: this
    // one's by its id and as "self" agree, and one that is gone has none.
    void ofAnyProcess()
    {
        const qint64 self = ::getpid();
        const double resident = ProcessFigures::residentBytes(self);
        QVERIFY(resident > 1024 * 1024);
        QVERIFY(ProcessFigures::peakResidentBytes(self) >= resident);
        QVERIFY(ProcessFigures::proportionalBytes() > 0);
        QVERIFY(qAbs(ProcessFigures::residentBytes() - resident) < 16 * 1024 * 1024);
        QVERIFY(ProcessFigures::cpuSeconds(self) <= ProcessFigures::cpuSeconds() + 0.1);
        const ProcessFigures::Host host = ProcessFigures::host();
        QVERIFY(host.total > host.busy && host.busy > 0);
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        QVERIFY(child > 0);
        ::waitpid(child, nullptr, 0);
        QCOMPARE(ProcessFigures::residentBytes(child), 0.0);
        QCOMPARE(ProcessFigures::cpuSeconds(child), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestProcessFigures)
#include "tst_processfigures.moc"
