// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <optional>

// A listener that asks before it makes anything of a new connection: one
// that is not admitted is closed on the spot, before Qt builds a socket
// object for it, so that a connection flood costs little more than the
// kernel's own work.
class AdmittingServer : public QTcpServer
{
    Q_OBJECT
public:
    // How long accepting rests when the process is out of descriptors.
    static constexpr int ResourcePauseMs = 250;

    using Admit = std::function<bool(const QHostAddress &peer)>;
    using Prepare = std::function<void(QTcpSocket *socket)>;

    // Its accept queue is as long as the kernel allows, so that a burst of
    // connects waits there instead of being turned away.
    explicit AdmittingServer(QObject *parent = nullptr);
    void setAdmit(Admit admit) { m_admit = std::move(admit); }
    // Told once when accepting stops for want of descriptors or memory (it
    // starts again by itself a moment later), and once when it runs again.
    using Notice = std::function<void(const QString &line)>;
    void setNotice(Notice notice) { m_notice = std::move(notice); }
    // Runs on every admitted socket before whoever asked for it gets it.
    void setPrepare(Prepare prepare) { m_prepare = std::move(prepare); }
    // With a configuration, every new connection is TLS (1.2 or later) with
    // it, the handshake started at once; those already open keep theirs.
    void setTls(const QSslConfiguration &configuration) { m_tls = configuration; }
    bool isTls() const { return m_tls.has_value(); }
    QTcpSocket *nextPendingConnection() override;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void pauseForResources(QAbstractSocket::SocketError error);

    Admit m_admit;
    Notice m_notice;
    QTimer m_resume;
    bool m_paused = false;
    Prepare m_prepare;
    std::optional<QSslConfiguration> m_tls;
};
