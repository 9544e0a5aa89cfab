// SPDX-License-Identifier: MIT
#pragma once

#include "net/Protocol.h"

#include <QObject>
#include <QSslCertificate>
#include <QSslSocket>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// The client's one TCP connection, with the state numbers and events the
// window's handlers are written against:
//   0 closed      before the first Connect and after Close, nothing else
//   6 connecting  from Connect until the connection is up or fails
//   7 connected
//   8 closing     the server closed the connection; stays until Close
//   9 error       the connect failed or the connection broke; stays until Close
// Text goes out and comes in as Windows-1252, one byte per character. With
// TLS, the connection is up once it is encrypted, and only when the server's
// certificate is trusted by the system for the host name that was given.
class Wsk : public QObject
{
    Q_OBJECT
public:
    enum StateValue : int
    {
        sckClosed = 0,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9
    };

    explicit Wsk(QObject *parent = nullptr);

    int State() const { return m_state; }
    QString RemoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    quint16 RemotePort() const { return m_remotePort; }
    void setRemotePort(quint16 port) { m_remotePort = port; }
    // Whether the next Connect encrypts.
    void setTls(bool tls) { m_tls = tls; }
    bool encrypted() const;
    // Authorities trusted besides the system's, for a stage with a private one.
    void addCaCertificates(const QList<QSslCertificate> &certificates);

    // Returns at once; ConnectEvent follows when the connection is up.
    void Connect();
    // Writes the whole text in one go; in any state but connected it sends
    // nothing and returns false.
    bool SendData(const QString &text);
    // What was received and not yet read, at most MaxRead bytes of it. When
    // more is waiting, DataArrival comes again on the next turn of the event
    // loop, so that a flood from the server cannot keep clicks and keys from
    // their turn.
    QString GetData();
    static constexpr qint64 MaxRead = 256 * 1024;
    // Drops the connection without sending anything more; state 0.
    void Close();

signals:
    void ConnectEvent();
    void DataArrival(qint64 bytesTotal);
    // The connect failed (wasConnected false) or an open connection ended
    // without Close; reason is a short plain-words explanation.
    void Dropped(bool wasConnected, const QString &reason);
    // The server's certificate is not trusted: nothing was sent and the
    // connection is closed.
    void Untrusted(const QString &reason);

private:
    void onConnected();
    void onEncrypted();
    void onSslErrors(const QList<QSslError> &errors);
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void announceData();

    void useSocket(QTcpSocket *socket);

    QTcpSocket *m_socket = nullptr; // a QSslSocket while the connection is TLS
    QList<QSslCertificate> m_extraAuthorities;
    QTimer m_more; // the next turn's DataArrival for what one read left
    QString m_remoteHost = QStringLiteral("stage.example.net");
    quint16 m_remotePort = Protocol::DefaultPort;
    int m_state = sckClosed;
    bool m_tls = false;
};
