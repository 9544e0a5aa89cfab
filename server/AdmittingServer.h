// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <functional>

// A listener that asks before it makes anything of a new connection: one
// that is not admitted is closed on the spot, before Qt builds a socket
// object for it, so that a connection flood costs little more than the
// kernel's own work.
class AdmittingServer : public QTcpServer
{
    Q_OBJECT
public:
    using Admit = std::function<bool(const QHostAddress &peer)>;

    explicit AdmittingServer(QObject *parent = nullptr) : QTcpServer(parent) {}
    void setAdmit(Admit admit) { m_admit = std::move(admit); }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    Admit m_admit;
};
