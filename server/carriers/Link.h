// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <functional>

// One participant's connection as the stage sees it, whatever carries it: a
// byte stream in (framed by the stage), whole packets out. The stage holds
// every rule; a link only moves bytes, so a browser and a desktop client are
// treated alike.
class Link : public QObject
{
    Q_OBJECT
public:
    // Why a connection failed, where the stage treats it differently.
    enum class Failure
    {
        Broken,          // the network or the peer's end
        HandshakeFailed, // a TLS handshake: scanners cause many, logged sparingly
        Misbehaved       // the peer broke the carrier's own rules
    };
    Q_ENUM(Failure)

    using QObject::QObject;

    // Spends `packets` and `bytes` of the peer's budget for traffic the peer
    // caused that is not a packet of the stage (a WebSocket's pings and
    // pongs); false when the budget has not that much, and the peer is to
    // be closed.
    using Spend = std::function<bool(int packets, qint64 bytes)>;
    void setSpend(Spend spend) { m_spend = std::move(spend); }

    virtual QHostAddress peerAddress() const = 0;
    virtual quint16 peerPort() const = 0;
    // How the log names the kind of connection: empty for the plain stage port.
    virtual QString kind() const = 0;

    // What has come in and is not read yet, as one stream of packets.
    virtual QByteArray read(qint64 max) = 0;
    virtual qint64 bytesAvailable() const = 0;
    // One or more whole packets, each to go out at once.
    virtual void write(const QByteArray &packets) = 0;
    virtual qint64 bytesToWrite() const = 0;
    virtual bool isOpen() const = 0;
    // Closes at once, anything unsent lost.
    virtual void abort() = 0;
    // Sends the farewell, then closes; `closed` follows once it is out.
    virtual void closeAfter(const QByteArray &farewell) = 0;

protected:
    bool spend(int packets, qint64 bytes) const { return !m_spend || m_spend(packets, bytes); }

signals:
    void readyRead();
    void closed();
    // Something went wrong with the connection; `closed` may follow.
    void failed(Link::Failure failure, const QString &why);

private:
    Spend m_spend;
};
