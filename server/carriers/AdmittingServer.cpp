// SPDX-License-Identifier: MIT
#include "server/carriers/AdmittingServer.h"

#include <QFile>
#include <QSslSocket>
#include <QTcpSocket>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The kernel's own ceiling for the accept queue.
int systemBacklog()
{
    QFile somaxconn(QStringLiteral("/proc/sys/net/core/somaxconn"));
    if (somaxconn.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int value = somaxconn.readAll().trimmed().toInt(&ok);
        if (ok && value > 0)
            return value;
    }
    return 4096;
}

} // namespace

AdmittingServer::AdmittingServer(QObject *parent) : QTcpServer(parent)
{
    setListenBacklogSize(systemBacklog());
    // Out of descriptors, Qt stops accepting for good; retrying at once
    // would spin. Rest a moment, meanwhile the kernel queues newcomers.
    connect(this, &QTcpServer::acceptError, this, &AdmittingServer::pauseForResources);
    m_resume.setSingleShot(true);
    connect(&m_resume, &QTimer::timeout, this, [this] { resumeAccepting(); });
}

void AdmittingServer::pauseForResources(QAbstractSocket::SocketError error)
{
    pauseAccepting();
    if (!m_paused && m_notice)
        m_notice(QStringLiteral("port %1: cannot accept connections (%2), trying again every "
                                "%3 ms")
                     .arg(serverPort())
                     .arg(error == QAbstractSocket::SocketResourceError
                              ? QStringLiteral("out of descriptors or memory")
                              : errorString())
                     .arg(ResourcePauseMs));
    m_paused = true;
    m_resume.start(ResourcePauseMs);
}

void AdmittingServer::incomingConnection(qintptr descriptor)
{
    if (std::exchange(m_paused, false) && m_notice)
        m_notice(QStringLiteral("port %1: accepting connections again").arg(serverPort()));
    if (m_admit) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&peer), &length) != 0 ||
            !m_admit(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)))) {
            ::close(int(descriptor));
            return;
        }
    }
    if (!m_tls) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(*m_tls);
    socket->startServerEncryption();
    addPendingConnection(socket);
}

QTcpSocket *AdmittingServer::nextPendingConnection()
{
    QTcpSocket *socket = QTcpServer::nextPendingConnection();
    if (socket && m_prepare)
        m_prepare(socket);
    return socket;
}
