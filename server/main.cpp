// SPDX-License-Identifier: MIT
#include "server/operator/ControlTool.h"
#include "server/operator/LogSink.h"
#include "server/operator/ServerHost.h"
#include "server/operator/ServerOptions.h"
#include "server/operator/SignalWatcher.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>

namespace {

// Refusing a WebSocket upgrade closes the connection under the HTTP server's
// feet, and Qt says so on every refusal: a peer could fill the log with it.
void quietRefusals(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QIODevice::rollbackTransaction")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// Without TLS the server needs no plugin. Without this, the HTTP server's TLS
// settings would load the TLS plugins, and with them OpenSSL, into every
// server: half as much resident memory again.
void withoutTlsPlugins()
{
    QCoreApplication::setLibraryPaths({});
    QLoggingCategory::setFilterRules(QStringLiteral("qt.network.ssl.warning=false"));
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own poll loop instead of GLib's: a relayed step wakes the server,
    // reads one packet and writes ten, and GLib's bookkeeping around each
    // wake-up cost a host of many stages two fifths of the servers' CPU.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietRefusals);
    QCoreApplication::setApplicationName(QStringLiteral("quandrel-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUANDREL_VERSION));
    // A log reader that went away must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 1 && qstrcmp(argv[1], "ctl") == 0)
        return ControlTool::run(QCoreApplication::arguments().mid(2), stdout, stderr);
    SignalWatcher watcher; // before any other thread starts

    const ServerOptions options = ServerOptions::parse(QCoreApplication::arguments(), {},
                                                       QProcessEnvironment::systemEnvironment());
    switch (options.action) {
    case ServerOptions::Action::Help:
        std::fputs(qPrintable(options.helpText), stdout);
        return 0;
    case ServerOptions::Action::Version:
        std::printf("quandrel-server %s\n", QUANDREL_VERSION);
        return 0;
    case ServerOptions::Action::Error:
        std::fprintf(stderr, "quandrel-server: %s\n\n%s", qPrintable(options.error),
                     qPrintable(options.helpText));
        return 2;
    case ServerOptions::Action::Run:
        break;
    }
    if (!options.tls())
        withoutTlsPlugins();
    LogSink log(QStringLiteral("quandrel-server: "), options.logToStdout ? 1 : 2);
    ServerHost host(options, [&log](const QString &line) { log.write(line); });
    host.setLogLeftOut([&log] { return qint64(log.droppedInAll()); });
    QString why;
    if (const auto failed = host.start(&why)) {
        std::fprintf(stderr, "quandrel-server: %s\n", qPrintable(why));
        return *failed;
    }
    QObject::connect(&watcher, &SignalWatcher::reloadRequested, &app, [&host] { host.reload(); });
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [&log](int signal) {
        log.write(QStringLiteral("signal %1, stopping").arg(signal));
        QCoreApplication::quit();
    });
    return app.exec();
}
