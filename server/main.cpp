#include "net/Wsk.h"
#include "server/SignalWatcher.h"
#include "server/StageServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quandrel-server"));
    SignalWatcher watcher;

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Quandrel stage server: relays avatars, steps and chat between up to ten clients."));
    parser.addHelpOption();
    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default: 127.0.0.1, this machine only; "
                       "0.0.0.0 for every interface)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("TCP port (default: %1).").arg(Wsk::DefaultRemotePort),
        QStringLiteral("PORT"), QString::number(Wsk::DefaultRemotePort));
    parser.addOption(listenOption);
    parser.addOption(portOption);
    parser.process(app);

    // Only this machine unless told otherwise: opening a server to a network is a choice.
    QHostAddress address = QHostAddress::LocalHost;
    if (parser.isSet(listenOption) && !address.setAddress(parser.value(listenOption))) {
        std::fprintf(stderr, "quandrel-server: not an address: %s\n",
                     qPrintable(parser.value(listenOption)));
        return 2;
    }
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "quandrel-server: not a port: %s\n",
                     qPrintable(parser.value(portOption)));
        return 2;
    }

    StageServer server;
    if (!server.listen(address, quint16(port))) {
        std::fprintf(stderr, "quandrel-server: cannot listen on %s port %u: %s\n",
                     qPrintable(address.toString()), port, qPrintable(server.errorString()));
        return 1;
    }
    std::fprintf(stderr, "quandrel-server: listening on %s port %u\n",
                 qPrintable(address.toString()), unsigned(server.port()));
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [](int signal) {
        std::fprintf(stderr, "quandrel-server: signal %d, stopping\n", signal);
        QCoreApplication::quit();
    });
    return app.exec();
}
