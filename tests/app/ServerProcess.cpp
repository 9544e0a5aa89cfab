#include "ServerProcess.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

ServerProcess::ServerProcess() = default;

ServerProcess::~ServerProcess()
{
    m_process.terminate();
    m_process.waitForFinished(3000);
}

bool ServerProcess::start()
{
    // The log goes to a file: a pipe nobody drains would stall the server.
    const QString logPath = m_dir.filePath(QStringLiteral("server.log"));
    m_process.setStandardErrorFile(logPath);
    m_process.start(QStringLiteral(QUANDREL_SERVER),
                    {QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--port"), QStringLiteral("0")});
    if (!m_process.waitForStarted(5000))
        return false;
    // Port 0 lets the system choose; the server says which on its first line.
    static const QRegularExpression listening(QStringLiteral("listening on \\S+ port (\\d+)"));
    return QTest::qWaitFor(
        [&] {
            QFile log(logPath);
            if (!log.open(QIODevice::ReadOnly))
                return false;
            const auto match = listening.match(QString::fromLatin1(log.readAll()));
            m_port = match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
            return m_port != 0;
        },
        5000);
}

void ServerProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

qint64 ServerProcess::residentKiB() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
