// SPDX-License-Identifier: MIT
#include "FakeServer.h"

#include <QTest>

FakeServer::FakeServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        m_peer = m_server.nextPendingConnection();
        connect(m_peer, &QTcpSocket::readyRead, this, [this] { received += m_peer->readAll(); });
    });
}

bool FakeServer::waitForClient()
{
    return QTest::qWaitFor([this] { return m_peer != nullptr; }, 3000);
}

bool FakeServer::waitForBytes(qsizetype size)
{
    return QTest::qWaitFor([this, size] { return received.size() >= size; }, 3000);
}

QByteArray FakeServer::take(qsizetype atLeast)
{
    waitForBytes(atLeast);
    QTest::qWait(10);
    return std::exchange(received, {});
}

void FakeServer::send(const QByteArray &bytes)
{
    m_peer->write(bytes);
    m_peer->flush();
}

void FakeServer::closeClient()
{
    m_peer->disconnectFromHost();
}

bool FakeServer::clientGone() const
{
    return m_peer && m_peer->state() == QAbstractSocket::UnconnectedState;
}
