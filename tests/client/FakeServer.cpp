// SPDX-License-Identifier: MIT
#include "FakeServer.h"

#include <QTest>

namespace {

constexpr int WaitMs = 3000;

} // namespace

FakeServer::FakeServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        m_peer = m_server.nextPendingConnection();
        ++m_connections;
        connect(m_peer, &QTcpSocket::readyRead, this, [this] { received += m_peer->readAll(); });
    });
}

bool FakeServer::waitForClient()
{
    if (QTest::qWaitFor([this] { return m_peer != nullptr; }, WaitMs))
        return true;
    QTest::qFail("no client connected to the scripted server", __FILE__, __LINE__);
    return false;
}

bool FakeServer::waitForBytes(qsizetype size)
{
    if (QTest::qWaitFor([this, size] { return received.size() >= size; }, WaitMs))
        return true;
    const QByteArray message = "the scripted server waited for " + QByteArray::number(size) +
                               " bytes and got " + QByteArray::number(received.size()) + ": " +
                               received.toPercentEncoding(" []-");
    QTest::qFail(message.constData(), __FILE__, __LINE__);
    return false;
}

QByteArray FakeServer::take(qsizetype size)
{
    if (!waitForBytes(size))
        return std::exchange(received, {});
    QByteArray taken = received.first(size);
    received.remove(0, size);
    return taken;
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
