// SPDX-License-Identifier: MIT
#pragma once

#include "net/Protocol.h"
#include "server/page/WebFront.h"
#include "server/rules/ServerSettings.h"

#include <QHostAddress>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The command line, turned into what the server runs with, or into an error
// that names the option. Reading it does nothing else: no file is opened and
// no port is taken.
//
// Each option may also come from the environment, as QUANDREL_ and its name
// in capitals with underscores (QUANDREL_PORT=2579, QUANDREL_NO_WEB=1,
// QUANDREL_WEB_HOST="a.example b.example"), which is how container engines
// and orchestrators configure a program; the command line wins.
struct ServerOptions
{
    static constexpr quint16 DefaultWebPort = 2580;
    static constexpr quint16 DefaultTlsPort = 2581;

    // What the command line asks for.
    enum class Action
    {
        Run,
        Help,
        Version,
        Error // `error` says why; the exit status is 2
    };
    // Host names to addresses; the first address a name stands for, IPv4 first.
    using Resolve = std::function<std::optional<QHostAddress>(const QString &name)>;

    // `arguments` with the program's name first, as QCoreApplication gives them.
    static ServerOptions parse(const QStringList &arguments, const Resolve &resolve = {},
                               const QProcessEnvironment &environment = {});
    // The variable that stands for an option: "web-host" is QUANDREL_WEB_HOST.
    static QString variableOf(const QString &option);

    Action action = Action::Run;
    QString error;
    QString helpText; // for Help, and after an error

    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = Protocol::DefaultPort;
    bool web = true;
    quint16 webPort = DefaultWebPort;
    int requestTimeoutMs = WebFront::DefaultRequestTimeoutMs;
    QStringList webHosts;    // names the page answers to besides the machine's own
    QString certificateFile; // with keyFile, TLS; both or neither
    QString keyFile;
    quint16 tlsPort = DefaultTlsPort;
    bool tlsOnly = false;
    QString banFile;
    QString controlPath; // the operator's socket; none when empty
    bool logToStdout = false;
    // Where the figures for a monitor are served; none unless asked.
    std::optional<QHostAddress> metricsAddress;
    quint16 metricsPort = 0;
    ServerSettings settings;

    bool tls() const { return !certificateFile.isEmpty(); }
};
