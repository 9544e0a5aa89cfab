// SPDX-License-Identifier: MIT
#include "ContainerStage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <cstdio>

namespace {

// What podman printed, trimmed; nothing when it failed.
std::optional<QString> podman(const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(QStringLiteral("podman"), arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "podman %s: %s\n", qPrintable(arguments.join(u' ')),
                     process.readAllStandardError().trimmed().constData());
        return std::nullopt;
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool takesConnections(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(200);
}

} // namespace

ContainerStage::ContainerStage(QString image)
    : m_image(std::move(image)),
      m_name(QStringLiteral("quandrel-bench-%1").arg(QCoreApplication::applicationPid()))
{}

ContainerStage::~ContainerStage()
{
    podman({QStringLiteral("rm"), QStringLiteral("--force"), QStringLiteral("--time"),
            QStringLiteral("5"), m_name});
}

bool ContainerStage::start(const QStringList &options)
{
    QElapsedTimer clock;
    clock.start();
    const auto id = podman(
        QStringList{QStringLiteral("run"), QStringLiteral("--detach"), QStringLiteral("--name"),
                    m_name, QStringLiteral("--read-only"), QStringLiteral("--cap-drop=all"),
                    QStringLiteral("--security-opt=no-new-privileges"),
                    QStringLiteral("--publish=127.0.0.1::2579"), m_image} +
        options);
    if (!id)
        return false;
    const auto published = podman({QStringLiteral("port"), m_name, QStringLiteral("2579/tcp")});
    m_port = published ? quint16(published->section(u':', -1).toUInt()) : 0;
    if (m_port == 0)
        return false;
    // Until the server listens, the engine refuses connections to the port.
    const QDeadlineTimer deadline(20000);
    while (!takesConnections(m_port)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    m_startupMs = double(clock.nsecsElapsed()) / 1e6;
    const auto pid = podman({QStringLiteral("inspect"), QStringLiteral("--format"),
                             QStringLiteral("{{.State.Pid}}"), m_name});
    m_pid = pid ? pid->toLongLong() : 0;
    return m_pid > 0;
}

std::optional<qint64> ContainerStage::imageBytes(const QString &image)
{
    const auto size = podman({QStringLiteral("image"), QStringLiteral("inspect"),
                              QStringLiteral("--format"), QStringLiteral("{{.Size}}"), image});
    bool ok = false;
    const qint64 bytes = size ? size->toLongLong(&ok) : 0;
    return ok ? std::optional(bytes) : std::nullopt;
}
