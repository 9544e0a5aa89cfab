// SPDX-License-Identifier: MIT
#include "Fleet.h"

#include "EchoRelay.h"
#include "Stats.h"

#include "server/carriers/StageDoor.h"
#include "server/operator/ProcessFigures.h"
#include "server/stage/StageServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

Fleet::Fleet(Fleet &&other) noexcept
    : m_pids(std::move(other.m_pids)), m_ports(std::move(other.m_ports)),
      m_metricsPorts(std::move(other.m_metricsPorts)), m_logs(std::move(other.m_logs))
{
    other.m_pids.clear();
    other.m_logs.clear();
}

Fleet::~Fleet()
{
    for (const pid_t pid : m_pids)
        ::kill(pid, SIGTERM);
    for (const pid_t pid : m_pids)
        ::waitpid(pid, nullptr, 0);
    if (!m_logs.isEmpty())
        QDir(m_logs).removeRecursively();
}

Fleet Fleet::servers(const QString &path, int count, const QStringList &options, QString *error)
{
    Fleet fleet;
    QTemporaryDir logs;
    logs.setAutoRemove(false);
    fleet.m_logs = logs.path();
    std::vector<QByteArray> arguments{path.toLocal8Bit()};
    for (const QString &option :
         QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--web-port"),
                     QStringLiteral("0"), QStringLiteral("--tls-port"), QStringLiteral("0")} +
             options)
        arguments.push_back(option.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (int i = 0; i < count; ++i) {
        const QByteArray log = QFile::encodeName(fleet.m_logs + QStringLiteral("/%1.log").arg(i));
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(fd, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        fleet.m_pids.push_back(pid);
    }
    static const QRegularExpression stage(QStringLiteral("listening on \\S+ port (\\d+)\n"));
    static const QRegularExpression metrics(QStringLiteral("metrics at http://\\S+:(\\d+)/"));
    const bool wantMetrics = options.contains(QStringLiteral("--metrics-listen"));
    const std::int64_t deadline = Stats::nowNs() + 60'000'000'000;
    for (int i = 0; i < count; ++i) {
        QFile log(fleet.m_logs + QStringLiteral("/%1.log").arg(i));
        for (;;) {
            // The server makes the file once it runs.
            const QString text =
                log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
            log.close();
            const auto port = stage.match(text);
            const auto metricsPort = metrics.match(text);
            if (port.hasMatch() && (!wantMetrics || metricsPort.hasMatch())) {
                fleet.m_ports.push_back(std::uint16_t(port.captured(1).toUInt()));
                if (wantMetrics)
                    fleet.m_metricsPorts.push_back(std::uint16_t(metricsPort.captured(1).toUInt()));
                break;
            }
            if (Stats::nowNs() > deadline) {
                *error = QStringLiteral("server %1 did not start: %2").arg(i).arg(text);
                return {};
            }
            ::usleep(10'000);
        }
    }
    return fleet;
}

namespace {

// In a child: runs `count` stages until ended, after writing their ports.
[[noreturn]] void runStages(int count, int out)
{
    int argc = 1;
    char name[] = "quandrel-stages";
    char *argv[] = {name, nullptr};
    qputenv("QT_NO_GLIB", "1"); // as the server runs
    QCoreApplication app(argc, argv);
    ServerSettings settings;
    settings.notices = false;
    std::vector<std::unique_ptr<StageServer>> stages;
    std::vector<std::unique_ptr<StageDoor>> doors;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < count; ++i) {
        stages.push_back(std::make_unique<StageServer>(settings));
        doors.push_back(std::make_unique<StageDoor>(*stages.back()));
        doors.back()->listen(QHostAddress::LocalHost, 0);
        ports.push_back(doors.back()->port());
    }
    const int n = int(ports.size());
    ::write(out, &n, sizeof n);
    ::write(out, ports.data(), ports.size() * sizeof ports[0]);
    ::close(out);
    app.exec();
    ::_exit(0);
}

} // namespace

Fleet Fleet::sharedProcesses(int stages, int processes)
{
    return forked(stages, processes, runStages);
}

Fleet Fleet::echoRelays(int stages, int processes)
{
    return forked(stages, processes, [](int count, int out) {
        EchoRelay relay(count);
        const auto &ports = relay.ports();
        const int n = int(ports.size());
        ::write(out, &n, sizeof n);
        ::write(out, ports.data(), ports.size() * sizeof ports[0]);
        ::close(out);
        relay.serve();
    });
}

Fleet Fleet::forked(int stages, int processes, void (*run)(int count, int out))
{
    Fleet fleet;
    for (int p = 0; p < processes; ++p) {
        const int share = stages / processes + (p < stages % processes ? 1 : 0);
        int pipe[2];
        if (::pipe(pipe) != 0)
            return fleet;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipe[0]);
            run(share, pipe[1]);
            ::_exit(0);
        }
        ::close(pipe[1]);
        int n = 0;
        ::read(pipe[0], &n, sizeof n);
        std::vector<std::uint16_t> ports(std::size_t(std::max(n, 0)));
        std::size_t got = 0;
        while (got < ports.size() * sizeof ports[0]) {
            const ssize_t r = ::read(pipe[0], reinterpret_cast<char *>(ports.data()) + got,
                                     ports.size() * sizeof ports[0] - got);
            if (r <= 0)
                break;
            got += std::size_t(r);
        }
        ::close(pipe[0]);
        fleet.m_pids.push_back(pid);
        fleet.m_ports.insert(fleet.m_ports.end(), ports.begin(), ports.end());
    }
    return fleet;
}

double Fleet::cpuSeconds() const
{
    double sum = 0;
    for (const pid_t pid : m_pids)
        sum += ProcessFigures::cpuSeconds(pid);
    return sum;
}

double Fleet::pssMiB() const
{
    if (m_pids.empty())
        return 0;
    double sum = 0;
    for (const pid_t pid : m_pids)
        sum += ProcessFigures::proportionalBytes(pid) / 1024;
    return sum / double(m_pids.size()) / 1024;
}
