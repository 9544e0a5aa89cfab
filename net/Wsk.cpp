// SPDX-License-Identifier: MIT
#include "net/Wsk.h"

#include "net/Cp1252.h"

#include <QSslConfiguration>

Wsk::Wsk(QObject *parent) : QObject(parent)
{
    useSocket(new QTcpSocket(this));
    m_more.setSingleShot(true);
    m_more.setInterval(0);
    connect(&m_more, &QTimer::timeout, this, &Wsk::announceData);
}

void Wsk::useSocket(QTcpSocket *socket)
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->deleteLater();
    }
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, &Wsk::onConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &Wsk::onError);
    connect(socket, &QTcpSocket::disconnected, this, &Wsk::onDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &Wsk::announceData);
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        connect(ssl, &QSslSocket::encrypted, this, &Wsk::onEncrypted);
        connect(ssl, &QSslSocket::sslErrors, this, &Wsk::onSslErrors);
    }
    // Qt keeps no more than this of the stream; the rest waits in the kernel.
    socket->setReadBufferSize(MaxRead);
}

void Wsk::announceData()
{
    if (m_socket->bytesAvailable() > 0)
        emit DataArrival(m_socket->bytesAvailable());
}

bool Wsk::encrypted() const
{
    const auto *ssl = qobject_cast<const QSslSocket *>(m_socket);
    return ssl && ssl->isEncrypted();
}

void Wsk::Connect()
{
    m_state = sckClosed; // signals raised by abort() belong to the old connection
    m_more.stop();
    m_socket->abort();
    // A TLS socket only for TLS: it loads the TLS library, which a plain
    // connection has no use for.
    auto *ssl = qobject_cast<QSslSocket *>(m_socket);
    if (m_tls && !ssl)
        useSocket(ssl = new QSslSocket(this));
    else if (!m_tls && ssl)
        useSocket(new QTcpSocket(this));
    m_state = sckConnecting;
    if (m_tls) {
        QSslConfiguration configuration = ssl->sslConfiguration();
        configuration.setProtocol(QSsl::TlsV1_2OrLater);
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
        configuration.addCaCertificates(m_extraAuthorities);
        ssl->setSslConfiguration(configuration);
        ssl->connectToHostEncrypted(m_remoteHost, m_remotePort);
    } else {
        m_socket->connectToHost(m_remoteHost, m_remotePort);
    }
}

void Wsk::addCaCertificates(const QList<QSslCertificate> &certificates)
{
    m_extraAuthorities += certificates;
}

bool Wsk::SendData(const QString &text)
{
    if (m_state != sckConnected)
        return false;
    const QByteArray bytes = Cp1252::encode(text);
    if (m_socket->write(bytes) != bytes.size())
        return false;
    m_socket->flush();
    return true;
}

QString Wsk::GetData()
{
    const QString text = Cp1252::decode(m_socket->read(MaxRead));
    if (m_socket->bytesAvailable() > 0)
        m_more.start();
    return text;
}

void Wsk::Close()
{
    m_state = sckClosed;
    m_more.stop();
    m_socket->abort();
}

void Wsk::onConnected()
{
    if (m_state != sckConnecting || m_tls)
        return; // with TLS, the connection is up once it is encrypted
    onEncrypted();
}

void Wsk::onSslErrors(const QList<QSslError> &errors)
{
    if (m_state != sckConnecting)
        return;
    QStringList reasons;
    for (const QSslError &error : errors)
        reasons.append(error.errorString());
    // Set first: the abort's own error belongs to no connection any more.
    m_state = sckError;
    m_socket->abort();
    emit Untrusted(reasons.join(QStringLiteral("; ")));
}

void Wsk::onEncrypted()
{
    if (m_state != sckConnecting)
        return;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_state = sckConnected;
    emit ConnectEvent();
}

void Wsk::onError(QAbstractSocket::SocketError error)
{
    if (m_state != sckConnecting && m_state != sckConnected)
        return;
    const bool wasConnected = m_state == sckConnected;
    if (error == QAbstractSocket::RemoteHostClosedError) {
        m_state = sckClosing;
        emit Dropped(wasConnected, tr("the server closed the connection"));
        return;
    }
    m_state = sckError;
    emit Dropped(wasConnected, m_socket->errorString());
}

void Wsk::onDisconnected()
{
    if (m_state != sckConnected)
        return;
    m_state = sckClosing;
    emit Dropped(true, tr("the server closed the connection"));
}
