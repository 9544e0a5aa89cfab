// SPDX-License-Identifier: MIT
#include "net/Protocol.h"
#include "server/LogSink.h"
#include "server/SignalWatcher.h"
#include "server/StageServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

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

double number(const QCommandLineParser &parser, const QCommandLineOption &option, double min,
              double max)
{
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || value < min || value > max)
        usageError(parser, QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\"")
                               .arg(option.names().first())
                               .arg(min)
                               .arg(max)
                               .arg(parser.value(option)));
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
        QStringLiteral("Connections at a time from one IPv4 address or IPv6 /64; 127.0.0.1 and ::1 "
                       "are exempt; 0 for no limit (default: %1).")
            .arg(defaults.maxPerAddress),
        QStringLiteral("N"), QString::number(defaults.maxPerAddress));
    const QCommandLineOption rateOption(
        QStringLiteral("rate"),
        QStringLiteral("Packets a second a client may send; a client over it is read later, "
                       "nothing is dropped; 0 for no limit (default: %1).")
            .arg(defaults.rate),
        QStringLiteral("PACKETS"), QString::number(defaults.rate));
    const QCommandLineOption burstOption(
        QStringLiteral("burst"),
        QStringLiteral("Packets a client may send at once before the rate applies (default: %1).")
            .arg(defaults.burst),
        QStringLiteral("PACKETS"), QString::number(defaults.burst));
    const QCommandLineOption noNoticesOption(
        QStringLiteral("no-notices"),
        QStringLiteral("Do not tell the stage when someone joins or leaves."));
    parser.addOptions({listenOption, portOption, joinTimeoutOption, perAddressOption, rateOption,
                       burstOption, noNoticesOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(
            parser,
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    // Only this machine unless told otherwise: opening a server to a network is a choice.
    const auto address = resolve(parser.value(listenOption));
    if (!address)
        usageError(parser, QStringLiteral("not an address or known host name: %1")
                               .arg(parser.value(listenOption)));
    const auto port = quint16(number(parser, portOption, 0, 65535));
    ServerSettings settings;
    settings.joinTimeoutMs = int(number(parser, joinTimeoutOption, 0.001, 86400) * 1000);
    settings.maxPerAddress = int(number(parser, perAddressOption, 0, StageServer::MaxClients));
    settings.rate = number(parser, rateOption, 0, 1e9);
    settings.burst = number(parser, burstOption, 1, 1e9);
    settings.notices = !parser.isSet(noNoticesOption);

    LogSink log(QStringLiteral("quandrel-server: "));
    StageServer server(settings);
    server.setLog([&log](const QString &line) { log.write(line); });
    if (!server.listen(*address, port)) {
        std::fprintf(stderr, "quandrel-server: cannot listen on %s port %u: %s\n",
                     qPrintable(address->toString()), unsigned(port),
                     qPrintable(server.errorString()));
        return 1;
    }
    log.write(
        QStringLiteral("listening on %1 port %2").arg(address->toString()).arg(server.port()));
    if (!address->isLoopback())
        log.write(QStringLiteral("warning: listening on %1, which other machines can reach")
                      .arg(address->toString()));
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [&log](int signal) {
        log.write(QStringLiteral("signal %1, stopping").arg(signal));
        QCoreApplication::quit();
    });
    return app.exec();
}
