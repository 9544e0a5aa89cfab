// SPDX-License-Identifier: MIT
#include "net/Protocol.h"
#include "server/BanList.h"
#include "server/LogSink.h"
#include "server/OptionValues.h"
#include "server/SignalWatcher.h"
#include "server/StageServer.h"
#include "server/TlsFiles.h"
#include "server/WebFront.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostInfo>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

constexpr quint16 DefaultWebPort = 2580;
constexpr quint16 DefaultTlsPort = 2581;

// Refusing a WebSocket upgrade closes the connection under the HTTP server's
// feet, and Qt says so on every refusal: a peer could fill the log with it.
void quietRefusals(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QIODevice::rollbackTransaction")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

[[noreturn]] void usageError(const QCommandLineParser &parser, const QString &message)
{
    std::fprintf(stderr, "quandrel-server: %s\n\n%s", qPrintable(message),
                 qPrintable(parser.helpText()));
    std::exit(2);
}

// An address as given, or the first address a host name stands for (IPv4
// first, as "localhost" is meant).
std::optional<QHostAddress> resolve(const QString &text)
{
    QHostAddress address;
    if (address.setAddress(text))
        return address;
    const QList<QHostAddress> found = QHostInfo::fromName(text).addresses();
    for (const QHostAddress &a : found) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    }
    if (!found.isEmpty())
        return found.first();
    return std::nullopt;
}

QString rangeError(const QCommandLineParser &parser, const QCommandLineOption &option,
                   const char *what)
{
    return QStringLiteral("--%1 takes %2, not \"%3\"")
        .arg(option.names().first(), QLatin1String(what), parser.value(option));
}

qint64 count(const QCommandLineParser &parser, const QCommandLineOption &option, qint64 min,
             qint64 max)
{
    const auto value = OptionValues::count(parser.value(option), min, max);
    if (!value)
        usageError(parser, rangeError(parser, option, "a whole number")
                               .append(QStringLiteral(" (from %1 to %2)").arg(min).arg(max)));
    return *value;
}

double decimal(const QCommandLineParser &parser, const QCommandLineOption &option, double min,
               double max)
{
    const auto value = OptionValues::decimal(parser.value(option), min, max);
    if (!value)
        usageError(parser, rangeError(parser, option, "a decimal number")
                               .append(QStringLiteral(" (from %1 to %2)").arg(min).arg(max)));
    return *value;
}

// The ban file, each line that cannot be read logged with its number and
// skipped; nothing when the file itself cannot be read.
std::optional<BanList> readBans(const QString &path, LogSink &log, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    QList<BanList::Problem> problems;
    BanList bans = BanList::parse(file.read(16 * 1024 * 1024), &problems);
    for (const BanList::Problem &problem : problems)
        log.write(
            QStringLiteral("%1 line %2 skipped: %3").arg(path).arg(problem.line).arg(problem.why));
    log.write(QStringLiteral("%1: %2 ban(s)").arg(path).arg(bans.size()));
    return bans;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietRefusals);
    QCoreApplication::setApplicationName(QStringLiteral("quandrel-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUANDREL_VERSION));
    // A log reader that went away must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    SignalWatcher watcher;

    const ServerSettings defaults;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Quandrel stage server: relays avatars, steps and chat between up to ten clients."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Address or host name to listen on (default: 127.0.0.1, this machine "
                       "only; 0.0.0.0 for every interface)."),
        QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("TCP port (default: %1).").arg(Protocol::DefaultPort),
        QStringLiteral("PORT"), QString::number(Protocol::DefaultPort));
    const QCommandLineOption joinTimeoutOption(
        QStringLiteral("join-timeout"),
        QStringLiteral("Close a connection that has not joined within this many seconds "
                       "(default: %1).")
            .arg(defaults.joinTimeoutMs / 1000),
        QStringLiteral("SECONDS"), QString::number(defaults.joinTimeoutMs / 1000));
    const QCommandLineOption perAddressOption(
        QStringLiteral("max-per-address"),
        QStringLiteral("Connections at a time from one address group (an IPv4 address or an "
                       "IPv6 /64); 127.0.0.1 and ::1 are exempt; 0 for no limit (default: %1).")
            .arg(defaults.maxPerAddress),
        QStringLiteral("N"), QString::number(defaults.maxPerAddress));
    // Every budget belongs to the address group and is remembered for a
    // minute after its last connection closed.
    const auto budget = [](const char *name, const QString &what, const char *unit, double value) {
        return QCommandLineOption(QString::fromLatin1(name),
                                  what + QStringLiteral(" (default: %1).").arg(value),
                                  QString::fromLatin1(unit), QString::number(value));
    };
    const QCommandLineOption rateOption =
        budget("rate",
               QStringLiteral("Packets a second an address group may send; what is over it is "
                              "read later, nothing is dropped; 0 for no limit"),
               "PACKETS", defaults.rate);
    const QCommandLineOption burstOption =
        budget("burst", QStringLiteral("Packets a group may send at once before the rate applies"),
               "PACKETS", defaults.burst);
    const QCommandLineOption byteRateOption = budget(
        "byte-rate", QStringLiteral("Bytes a second an address group may send; 0 for no limit"),
        "BYTES", defaults.byteRate);
    const QCommandLineOption byteBurstOption = budget(
        "byte-burst", QStringLiteral("Bytes a group may send at once before the byte rate applies"),
        "BYTES", defaults.byteBurst);
    const QCommandLineOption joinRateOption =
        budget("join-rate",
               QStringLiteral("Joins a second an address group may make; a join over it "
                              "waits; 0 for no limit"),
               "JOINS", defaults.joinRate);
    const QCommandLineOption joinBurstOption = budget(
        "join-burst", QStringLiteral("Joins a group may make at once before the join rate applies"),
        "JOINS", defaults.joinBurst);
    const QCommandLineOption connectRateOption =
        budget("connect-rate",
               QStringLiteral("Connections a second an address group may open; the rest "
                              "are closed at once; 0 for no limit"),
               "CONNECTS", defaults.connectRate);
    const QCommandLineOption connectBurstOption = budget(
        "connect-burst",
        QStringLiteral("Connections a group may open at once before the connect rate applies"),
        "CONNECTS", defaults.connectBurst);
    const QCommandLineOption summaryOption(
        QStringLiteral("log-summary"),
        QStringLiteral("Sum up refused connections and log lines left out every this many "
                       "seconds; the log takes at most 50 lines a second (default: %1).")
            .arg(defaults.summaryIntervalMs / 1000),
        QStringLiteral("SECONDS"), QString::number(defaults.summaryIntervalMs / 1000));
    const QCommandLineOption webPortOption(
        QStringLiteral("web-port"),
        QStringLiteral("TCP port of the page that joins the stage from a browser, on the same "
                       "address; 0 picks a free one (default: %1).")
            .arg(DefaultWebPort),
        QStringLiteral("PORT"), QString::number(DefaultWebPort));
    const QCommandLineOption requestTimeoutOption(
        QStringLiteral("request-timeout"),
        QStringLiteral("Close a connection to the page that has not sent a whole request "
                       "within this many seconds (default: %1).")
            .arg(WebFront::DefaultRequestTimeoutMs / 1000),
        QStringLiteral("SECONDS"), QString::number(WebFront::DefaultRequestTimeoutMs / 1000));
    const QCommandLineOption noWebOption(QStringLiteral("no-web"),
                                         QStringLiteral("Serve no page for browsers."));
    const QCommandLineOption banFileOption(
        QStringLiteral("ban-file"),
        QStringLiteral("Keep the addresses, prefixes and names in this file off the stage; "
                       "read again on SIGHUP."),
        QStringLiteral("FILE"));
    const QCommandLineOption tlsCertOption(
        QStringLiteral("tls-cert"),
        QStringLiteral("The server's certificate, its chain after it, in PEM (as certbot's "
                       "fullchain.pem); with --tls-key, the stage is also served inside TLS "
                       "and the page over HTTPS. Read again on SIGHUP."),
        QStringLiteral("FILE"));
    const QCommandLineOption tlsKeyOption(QStringLiteral("tls-key"),
                                          QStringLiteral("The certificate's private key, in PEM."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption tlsPortOption(
        QStringLiteral("tls-port"),
        QStringLiteral("TCP port of the stage inside TLS; 0 picks a free one (default: %1).")
            .arg(DefaultTlsPort),
        QStringLiteral("PORT"), QString::number(DefaultTlsPort));
    const QCommandLineOption tlsOnlyOption(
        QStringLiteral("tls-only"),
        QStringLiteral("Close the plain stage port: only clients that encrypt may join."));
    const QCommandLineOption noNoticesOption(
        QStringLiteral("no-notices"),
        QStringLiteral("Do not tell the stage when someone joins or leaves."));
    parser.addOptions({listenOption,   portOption,      joinTimeoutOption,    perAddressOption,
                       rateOption,     burstOption,     byteRateOption,       byteBurstOption,
                       joinRateOption, joinBurstOption, connectRateOption,    connectBurstOption,
                       summaryOption,  webPortOption,   requestTimeoutOption, noWebOption,
                       banFileOption,  tlsCertOption,   tlsKeyOption,         tlsPortOption,
                       tlsOnlyOption,  noNoticesOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(
            parser,
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    // Only this machine unless told otherwise: opening a server to a network is a choice.
    auto address = resolve(parser.value(listenOption));
    if (!address)
        usageError(parser, QStringLiteral("not an address or known host name: %1")
                               .arg(parser.value(listenOption)));
    if (*address == QHostAddress(QHostAddress::AnyIPv6))
        address = QHostAddress(QHostAddress::Any); // "::" takes IPv4 as well
    const auto port = quint16(count(parser, portOption, 0, 65535));
    const auto webPort = quint16(count(parser, webPortOption, 0, 65535));
    const int requestTimeoutMs = int(decimal(parser, requestTimeoutOption, 0.001, 86400) * 1000);
    const auto tlsPort = quint16(count(parser, tlsPortOption, 0, 65535));
    const QString certificateFile = parser.value(tlsCertOption);
    const QString keyFile = parser.value(tlsKeyOption);
    if (certificateFile.isEmpty() != keyFile.isEmpty())
        usageError(parser, QStringLiteral("--tls-cert and --tls-key go together"));
    const bool tls = !certificateFile.isEmpty();
    if (parser.isSet(tlsOnlyOption) && !tls)
        usageError(parser, QStringLiteral("--tls-only needs --tls-cert and --tls-key"));
    if (!tls) {
        // Without TLS the server needs no plugin. Without this, the HTTP
        // server's TLS settings would load the TLS plugins, and with them
        // OpenSSL, into every server: half as much resident memory again.
        QCoreApplication::setLibraryPaths({});
        QLoggingCategory::setFilterRules(QStringLiteral("qt.network.ssl.warning=false"));
    }
    std::optional<QSslConfiguration> tlsConfiguration;
    if (tls) {
        QString why;
        tlsConfiguration = TlsFiles::load(certificateFile, keyFile, &why);
        if (!tlsConfiguration) {
            std::fprintf(stderr, "quandrel-server: %s\n", qPrintable(why));
            return 2;
        }
    }
    ServerSettings settings;
    settings.joinTimeoutMs = int(decimal(parser, joinTimeoutOption, 0.001, 86400) * 1000);
    settings.maxPerAddress = int(count(parser, perAddressOption, 0, StageServer::MaxClients));
    settings.rate = decimal(parser, rateOption, 0, 1e9);
    settings.burst = decimal(parser, burstOption, 1, 1e9);
    settings.byteRate = decimal(parser, byteRateOption, 0, 1e12);
    settings.byteBurst = decimal(parser, byteBurstOption, 1, 1e12);
    settings.joinRate = decimal(parser, joinRateOption, 0, 1e9);
    settings.joinBurst = decimal(parser, joinBurstOption, 1, 1e9);
    settings.connectRate = decimal(parser, connectRateOption, 0, 1e9);
    settings.connectBurst = decimal(parser, connectBurstOption, 1, 1e9);
    settings.summaryIntervalMs = int(decimal(parser, summaryOption, 0.1, 86400) * 1000);
    settings.notices = !parser.isSet(noNoticesOption);

    LogSink log(QStringLiteral("quandrel-server: "));
    StageServer server(settings);
    server.setLog([&log](const QString &line) { log.write(line); });
    const QString banFile = parser.value(banFileOption);
    if (!banFile.isEmpty()) {
        QString why;
        const auto bans = readBans(banFile, log, &why);
        if (!bans) {
            std::fprintf(stderr, "quandrel-server: %s: %s\n", qPrintable(banFile), qPrintable(why));
            return 2;
        }
        server.setBans(*bans);
    }
    if (!parser.isSet(tlsOnlyOption)) {
        if (!server.listen(*address, port)) {
            std::fprintf(stderr, "quandrel-server: cannot listen on %s port %u: %s\n",
                         qPrintable(address->toString()), unsigned(port),
                         qPrintable(server.errorString()));
            return 1;
        }
        log.write(
            QStringLiteral("listening on %1 port %2").arg(address->toString()).arg(server.port()));
    }
    if (tlsConfiguration) {
        if (!server.listenTls(*address, tlsPort, *tlsConfiguration)) {
            std::fprintf(stderr, "quandrel-server: cannot listen on %s port %u: %s\n",
                         qPrintable(address->toString()), unsigned(tlsPort),
                         qPrintable(server.tlsErrorString()));
            return 1;
        }
        log.write(QStringLiteral("listening on %1 port %2 for TLS")
                      .arg(address->toString())
                      .arg(server.tlsPort()));
    }
    std::optional<WebFront> web;
    if (!parser.isSet(noWebOption)) {
        web.emplace(server);
        web->setRequestTimeout(requestTimeoutMs);
        if (tlsConfiguration)
            web->setTls(*tlsConfiguration);
        if (!web->listen(*address, webPort)) {
            std::fprintf(stderr, "quandrel-server: cannot serve the page on %s port %u: %s\n",
                         qPrintable(address->toString()), unsigned(webPort),
                         qPrintable(web->errorString()));
            return 1;
        }
        const QString host = address->protocol() == QAbstractSocket::IPv6Protocol
                                 ? u'[' + address->toString() + u']'
                                 : address->toString();
        log.write(
            QStringLiteral("the page is at %1://%2:%3/")
                .arg(tlsConfiguration ? QStringLiteral("https") : QStringLiteral("http"), host)
                .arg(web->port()));
    }
    if (!address->isLoopback())
        log.write(QStringLiteral("warning: listening on %1, which other machines can reach")
                      .arg(address->toString()));
    QObject::connect(&watcher, &SignalWatcher::reloadRequested, &app, [&] {
        if (tlsConfiguration) {
            QString why;
            if (const auto fresh = TlsFiles::load(certificateFile, keyFile, &why)) {
                server.setTls(*fresh);
                if (web)
                    web->setTls(*fresh);
                log.write(QStringLiteral("certificate read again from %1, valid until %2")
                              .arg(certificateFile,
                                   fresh->localCertificate().expiryDate().toString(Qt::ISODate)));
            } else {
                log.write(
                    QStringLiteral("certificate not read again, the old one stays: %1").arg(why));
            }
        }
        if (banFile.isEmpty())
            return;
        QString why;
        if (const auto bans = readBans(banFile, log, &why))
            server.setBans(*bans);
        else
            log.write(QStringLiteral("%1 not read again, the bans stay as they were: %2")
                          .arg(banFile, why));
    });
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [&log](int signal) {
        log.write(QStringLiteral("signal %1, stopping").arg(signal));
        QCoreApplication::quit();
    });
    return app.exec();
}
