// SPDX-License-Identifier: MIT
#include "ServerProcess.h"

#include "server/operator/ProcessFigures.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <sys/resource.h>
#include <unistd.h>

ServerProcess::ServerProcess(QString program)
    : m_program(program.isEmpty() ? QStringLiteral(QUANDREL_SERVER) : std::move(program))
{}

ServerProcess::~ServerProcess()
{
    m_process.terminate();
    m_process.waitForFinished(3000);
}

bool ServerProcess::start(const QStringList &options, int stderrFd)
{
    const int limit = m_descriptorLimit;
    m_process.setChildProcessModifier([stderrFd, limit] {
        if (stderrFd >= 0)
            ::dup2(stderrFd, 2);
        if (limit > 0) {
            const rlimit both{rlim_t(limit), rlim_t(limit)};
            ::setrlimit(RLIMIT_NOFILE, &both);
        }
    });
    if (stderrFd >= 0) {
        m_process.setStandardErrorFile(QProcess::nullDevice());
    } else {
        // A file: a pipe nobody drains would fill up.
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("server.log")));
    }
    m_process.start(m_program, QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                           QStringLiteral("--port"), QStringLiteral("0"),
                                           QStringLiteral("--web-port"), QStringLiteral("0"),
                                           QStringLiteral("--tls-port"), QStringLiteral("0")} +
                                   options);
    if (!m_process.waitForStarted(5000))
        return false;
    if (stderrFd >= 0)
        return true; // the caller reads the port from its own end
    // Port 0 lets the system choose; the server says which on its first line.
    static const QRegularExpression listening(QStringLiteral("listening on \\S+ port (\\d+)"));
    static const QRegularExpression page(QStringLiteral("the page is at https?://\\S+:(\\d+)/"));
    static const QRegularExpression tls(QStringLiteral("port (\\d+) for TLS"));
    static const QRegularExpression metrics(QStringLiteral("metrics at http://\\S+:(\\d+)/"));
    const bool web = !options.contains(QStringLiteral("--no-web"));
    const bool encrypted = options.contains(QStringLiteral("--tls-cert"));
    const bool figures = options.contains(QStringLiteral("--metrics-listen"));
    // Whether it came up is told by the ports found, below.
    (void)QTest::qWaitFor(
        [&] {
            if (m_process.state() == QProcess::NotRunning)
                return true; // it stopped: no use waiting
            const QString text = log();
            const auto match = listening.match(text);
            m_port = match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
            const auto pageMatch = page.match(text);
            m_webPort = pageMatch.hasMatch() ? quint16(pageMatch.captured(1).toUInt()) : 0;
            const auto tlsMatch = tls.match(text);
            m_tlsPort = tlsMatch.hasMatch() ? quint16(tlsMatch.captured(1).toUInt()) : 0;
            const auto metricsMatch = metrics.match(text);
            m_metricsPort =
                metricsMatch.hasMatch() ? quint16(metricsMatch.captured(1).toUInt()) : 0;
            return m_port != 0 && (m_webPort != 0 || !web) && (m_tlsPort != 0 || !encrypted) &&
                   (m_metricsPort != 0 || !figures);
        },
        5000);
    return m_port != 0 && (m_webPort != 0 || !web) && (m_tlsPort != 0 || !encrypted) &&
           (m_metricsPort != 0 || !figures) && m_process.state() == QProcess::Running;
}

QString ServerProcess::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("server.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void ServerProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

qint64 ServerProcess::residentKiB() const
{
    return qint64(ProcessFigures::residentBytes(pid()) / 1024);
}

int ServerProcess::exitCode()
{
    m_process.waitForFinished(5000);
    return m_process.state() == QProcess::NotRunning ? m_process.exitCode() : -1;
}
