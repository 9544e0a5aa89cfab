// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/Link.h"

class QTcpSocket;

// A client on a stage port, plain or TLS: its bytes as they come, framed by
// the stage.
class TcpLink : public Link
{
    Q_OBJECT
public:
    // Takes the socket over.
    explicit TcpLink(QTcpSocket *socket, QObject *parent = nullptr);

    QHostAddress peerAddress() const override;
    quint16 peerPort() const override;
    QString kind() const override { return {}; }
    QByteArray read(qint64 max) override;
    qint64 bytesAvailable() const override;
    void write(const QByteArray &packets) override;
    qint64 bytesToWrite() const override;
    bool isOpen() const override;
    void abort() override;
    void closeAfter(const QByteArray &farewell) override;

private:
    QTcpSocket *m_socket;
};
