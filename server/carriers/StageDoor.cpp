// SPDX-License-Identifier: MIT
#include "server/carriers/StageDoor.h"

#include "server/carriers/Entrance.h"
#include "server/carriers/TcpLink.h"

StageDoor::StageDoor(Entrance &entrance, Notice notice, QObject *parent)
    : QObject(parent), m_entrance(entrance)
{
    for (AdmittingServer *server : {&m_tcp, &m_tls}) {
        server->setAdmit([this](const QHostAddress &peer) { return m_entrance.admit(peer); });
        if (notice)
            server->setNotice(notice);
        connect(server, &QTcpServer::newConnection, this,
                [this, server] { takeConnections(*server); });
    }
}

bool StageDoor::listen(const QHostAddress &address, quint16 port)
{
    return m_tcp.listen(address, port);
}

bool StageDoor::listenTls(const QHostAddress &address, quint16 port,
                          const QSslConfiguration &configuration)
{
    m_tls.setTls(configuration);
    return m_tls.listen(address, port);
}

void StageDoor::takeConnections(AdmittingServer &server)
{
    while (QTcpSocket *socket = server.nextPendingConnection())
        m_entrance.adopt(new TcpLink(socket),
                         server.isTls() ? StageFigures::Carrier::Tls : StageFigures::Carrier::Tcp);
}
