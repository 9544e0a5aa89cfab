// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/AdmittingServer.h"

#include <QObject>
#include <functional>

class Entrance;
class QSslConfiguration;

// The stage's own doors: its TCP port, and its port inside TLS with the same
// places and rules. Each connection is asked about before its socket exists
// and handed, once it has one, to the entrance.
class StageDoor : public QObject
{
    Q_OBJECT
public:
    using Notice = std::function<void(const QString &line)>;

    explicit StageDoor(Entrance &entrance, Notice notice = {}, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    bool listenTls(const QHostAddress &address, quint16 port,
                   const QSslConfiguration &configuration);
    // A new certificate for new connections; those open keep theirs.
    void setTls(const QSslConfiguration &configuration) { m_tls.setTls(configuration); }
    quint16 port() const { return m_tcp.serverPort(); }
    quint16 tlsPort() const { return m_tls.serverPort(); }
    QString errorString() const { return m_tcp.errorString(); }
    QString tlsErrorString() const { return m_tls.errorString(); }

private:
    void takeConnections(AdmittingServer &server);

    Entrance &m_entrance;
    AdmittingServer m_tcp;
    AdmittingServer m_tls;
};
