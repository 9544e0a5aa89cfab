// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/StageDoor.h"
#include "server/operator/ControlSocket.h"
#include "server/operator/MemoryTrim.h"
#include "server/operator/MetricsEndpoint.h"
#include "server/operator/Moderator.h"
#include "server/operator/Reloader.h"
#include "server/operator/ServerOptions.h"
#include "server/page/WebFront.h"
#include "server/stage/StageServer.h"

#include <QString>
#include <functional>
#include <optional>

// The stage, its TLS port and its page, started as the options say and
// logged as they start.
class ServerHost
{
public:
    using Log = std::function<void(const QString &line)>;

    ServerHost(const ServerOptions &options, Log log);

    // Reads the files, takes the ports; the exit status to end with when
    // something fails (2 for a file, 1 for a port), and why in `why`.
    std::optional<int> start(QString *why);
    // Reads the certificate and the bans again.
    void reload();
    // Log lines the log itself left out, for the figures.
    void setLogLeftOut(std::function<qint64()> leftOut) { m_logLeftOut = std::move(leftOut); }

private:
    std::optional<int> serveThePage(const QSslConfiguration *tls, QString *why);
    // What a listener on `address` answers to: that address (every address
    // of the machine for a wildcard), localhost on loopback, the machine's
    // name, and the names --web-host gives.
    QStringList ownNames(const QHostAddress &address) const;
    std::optional<int> serveTheFigures(QString *why);
    std::optional<int> takeCommands(QString *why);
    QByteArray figures() const;

    const ServerOptions m_options;
    Log m_log;
    const int m_descriptors;
    const ServerSettings m_settings; // the options' settings, sized to the descriptors
    StageServer m_stage;
    StageDoor m_door;
    std::optional<WebFront> m_web;
    std::optional<Reloader> m_reloader;
    std::optional<MetricsEndpoint> m_metrics;
    std::optional<Moderator> m_moderator;
    std::optional<ControlSocket> m_control;
    std::function<qint64()> m_logLeftOut;
    MemoryTrim m_trim;
};
