// SPDX-License-Identifier: MIT
#include "server/operator/ServerHost.h"

#include "server/carriers/PeerAddress.h"
#include "server/operator/BanFile.h"
#include "server/operator/Descriptors.h"
#include "server/operator/ProcessFigures.h"
#include "server/operator/TlsFiles.h"

#include <QHostInfo>
#include <QNetworkInterface>

namespace {

QString cannotListen(const QHostAddress &address, quint16 port, const QString &error)
{
    return QStringLiteral("cannot listen on %1 port %2: %3")
        .arg(address.toString())
        .arg(port)
        .arg(error);
}

// As an address appears in a URL.
QString urlHost(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + address.toString() + u']'
                                                               : address.toString();
}

} // namespace

ServerHost::ServerHost(const ServerOptions &options, Log log)
    : m_options(options), m_log(std::move(log)), m_descriptors(Descriptors::raiseSoftLimit()),
      m_settings(Descriptors::sizedFor(options.settings, m_descriptors)), m_stage(m_settings),
      m_door(m_stage, m_log)
{
    m_stage.setLog(m_log);
}

std::optional<int> ServerHost::start(QString *why)
{
    std::optional<QSslConfiguration> tls;
    if (m_options.tls()) {
        tls = TlsFiles::load(m_options.certificateFile, m_options.keyFile, why);
        if (!tls)
            return 2;
    }
    std::optional<qint64> nextExpiry;
    if (!m_options.banFile.isEmpty()) {
        const auto bans =
            BanFile::read(m_options.banFile, m_stage.lookAlike(), m_log, why, &nextExpiry);
        if (!bans) {
            *why = m_options.banFile + QStringLiteral(": ") + *why;
            return 2;
        }
        m_stage.setBans(*bans);
    }
    const QHostAddress &address = m_options.address;
    if (!m_options.tlsOnly) {
        if (!m_door.listen(address, m_options.port)) {
            *why = cannotListen(address, m_options.port, m_door.errorString());
            return 1;
        }
        m_log(QStringLiteral("listening on %1 port %2").arg(address.toString()).arg(m_door.port()));
    }
    if (tls) {
        if (!m_door.listenTls(address, m_options.tlsPort, *tls)) {
            *why = cannotListen(address, m_options.tlsPort, m_door.tlsErrorString());
            return 1;
        }
        m_log(QStringLiteral("listening on %1 port %2 for TLS")
                  .arg(address.toString())
                  .arg(m_door.tlsPort()));
    }
    if (m_options.web) {
        if (const auto failed = serveThePage(tls ? &*tls : nullptr, why))
            return failed;
    }
    if (m_options.metricsAddress) {
        if (const auto failed = serveTheFigures(why))
            return failed;
    }
    m_log(QStringLiteral("up to %1 descriptors: %2 waiting places, %3 connections to the page")
              .arg(m_descriptors)
              .arg(m_settings.waitingPlaces)
              .arg(m_options.web ? m_settings.pageConnections : 0));
    if (!address.isLoopback())
        m_log(QStringLiteral("warning: listening on %1, which other machines can reach")
                  .arg(address.toString()));
    m_reloader.emplace(m_stage, m_door, m_web ? &*m_web : nullptr, m_options.certificateFile,
                       m_options.keyFile, m_options.banFile, m_log);
    if (nextExpiry)
        m_reloader->expireAt(*nextExpiry);
    if (!m_options.controlPath.isEmpty())
        return takeCommands(why);
    return std::nullopt;
}

std::optional<int> ServerHost::takeCommands(QString *why)
{
    // Only for the test of a crash while the ban file is written.
    if (qEnvironmentVariable("QUANDREL_TEST_FAULT") == QLatin1StringView("crash-mid-ban-write"))
        m_reloader->crashMidWrite();
    m_moderator.emplace(m_stage, *m_reloader, m_log);
    if (m_metrics)
        m_moderator->setFiguresAddress(QStringLiteral("http://%1:%2/metrics")
                                           .arg(urlHost(*m_options.metricsAddress))
                                           .arg(m_metrics->port()));
    m_control.emplace(
        [this](const QString &line, const ControlSocket::Peer &peer) {
            return m_moderator->answer(line, {peer.uid, peer.pid});
        },
        // Whoever is refused may try again and again: their lines are budgeted.
        [this](const QString &line) { m_stage.log(line); });
    if (!m_control->listen(m_options.controlPath, why)) {
        *why = QStringLiteral("cannot take commands on %1: %2").arg(m_options.controlPath, *why);
        return 1;
    }
    m_log(QStringLiteral("commands on %1").arg(m_options.controlPath));
    return std::nullopt;
}

std::optional<int> ServerHost::serveThePage(const QSslConfiguration *tls, QString *why)
{
    const QHostAddress &address = m_options.address;
    m_web.emplace(m_stage, m_stage.groups(), m_stage.counters(),
                  [this](const QString &line) { m_stage.log(line); });
    m_web->setRequestTimeout(m_options.requestTimeoutMs);
    m_web->setMaxConnections(m_settings.pageConnections);
    m_web->setHostNames(ownNames(m_options.address));
    if (tls)
        m_web->setTls(*tls);
    if (!m_web->listen(address, m_options.webPort)) {
        *why = QStringLiteral("cannot serve the page on %1 port %2: %3")
                   .arg(address.toString())
                   .arg(m_options.webPort)
                   .arg(m_web->errorString());
        return 1;
    }
    m_log(QStringLiteral("the page is at %1://%2:%3/")
              .arg(tls ? QStringLiteral("https") : QStringLiteral("http"), urlHost(address))
              .arg(m_web->port()));
    return std::nullopt;
}

std::optional<int> ServerHost::serveTheFigures(QString *why)
{
    const QHostAddress &address = *m_options.metricsAddress;
    m_metrics.emplace([this] { return figures(); });
    // Like the page, the figures answer only to names of this host, so that a
    // hostile name pointed at it reads nothing through a browser.
    m_metrics->setHostNames(ownNames(address));
    m_metrics->setReadiness([this] {
        if (m_stage.isClosed())
            return QStringLiteral("the operator has closed the stage");
        if (m_door.port() == 0 && m_door.tlsPort() == 0)
            return QStringLiteral("the stage is not listening");
        return QString();
    });
    if (!m_metrics->listen(address, m_options.metricsPort)) {
        *why = QStringLiteral("cannot serve the figures on %1 port %2: %3")
                   .arg(address.toString())
                   .arg(m_options.metricsPort)
                   .arg(m_metrics->errorString());
        return 1;
    }
    m_log(QStringLiteral("metrics at http://%1:%2/metrics")
              .arg(urlHost(address))
              .arg(m_metrics->port()));
    if (!address.isLoopback())
        m_log(QStringLiteral("warning: metrics on %1, which other machines can reach")
                  .arg(address.toString()));
    return std::nullopt;
}

QByteArray ServerHost::figures() const
{
    StageFigures figures = m_stage.figures();
    figures.stage = m_door.port() != 0 ? m_door.port() : m_door.tlsPort();
    figures.connections[std::size_t(StageFigures::Carrier::Page)] =
        m_web ? m_web->connectionCount() : 0;
    if (m_logLeftOut)
        figures.logLinesLeftOut += m_logLeftOut();
    figures.process = ProcessFigures::read();
    if (m_moderator)
        figures.moderation = m_moderator->counts();
    return figures.exposition();
}

QStringList ServerHost::ownNames(const QHostAddress &address) const
{
    QStringList names = m_options.webHosts;
    const bool any = address == QHostAddress(QHostAddress::Any) ||
                     address == QHostAddress(QHostAddress::AnyIPv4) ||
                     address == QHostAddress(QHostAddress::AnyIPv6);
    const QList<QHostAddress> addresses =
        any ? QNetworkInterface::allAddresses() : QList<QHostAddress>{address};
    for (const QHostAddress &a : addresses)
        names.append(PeerAddress::plain(a).toString());
    if (any || address.isLoopback())
        names.append(QStringLiteral("localhost"));
    const QString host = QHostInfo::localHostName();
    if (!host.isEmpty()) {
        names.append(host);
        if (!QHostInfo::localDomainName().isEmpty())
            names.append(host + u'.' + QHostInfo::localDomainName());
    }
    return names;
}

void ServerHost::reload()
{
    if (m_reloader)
        m_reloader->reload();
}
