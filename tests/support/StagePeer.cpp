// SPDX-License-Identifier: MIT
#include "StagePeer.h"

#include <QTest>

StagePeer::StagePeer(quint16 port, const QHostAddress &from)
{
    if (!from.isNull())
        m_socket.bind(from);
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    m_socket.waitForConnected(3000);
}

int StagePeer::join(const QByteArray &name)
{
    write('\x0A' + name + '\0');
    if (!QTest::qWaitFor([this] { return (m_buffer += m_socket.readAll()).size() >= 13; }, 3000) ||
        !m_buffer.startsWith("ClientNumber"))
        return -1;
    const int number = m_buffer[12] - '0';
    m_buffer.remove(0, 13);
    m_numbered = true;
    return number;
}

void StagePeer::send(const QByteArray &body)
{
    write('\x02' + body + '\0');
}

void StagePeer::write(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

void StagePeer::take()
{
    m_buffer += m_socket.readAll();
    qsizetype start = 0;
    for (qsizetype end; (end = m_buffer.indexOf('\0', start)) >= 0; start = end + 1)
        m_packets.append(m_buffer.mid(start, end - start));
    m_buffer.remove(0, start);
}

bool StagePeer::waitForPackets(qsizetype count, int ms)
{
    return QTest::qWaitFor([&] { return packets().size() >= count; }, ms);
}

bool StagePeer::waitForClose(int ms)
{
    return QTest::qWaitFor(
        [&] {
            take();
            return m_socket.state() == QAbstractSocket::UnconnectedState;
        },
        ms);
}

const QList<QByteArray> &StagePeer::packets()
{
    take();
    return m_packets;
}
