// SPDX-License-Identifier: MIT
#include "server/operator/ServerOptions.h"

#include "net/ServerAddress.h"
#include "server/operator/OptionValues.h"
#include "server/stage/StageServer.h"

#include <QCommandLineParser>
#include <QHostInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

// An address as given, or the first address a host name stands for (IPv4
// first, as "localhost" is meant).
std::optional<QHostAddress> lookUp(const QString &name)
{
    const QList<QHostAddress> found = QHostInfo::fromName(name).addresses();
    for (const QHostAddress &a : found) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    }
    if (!found.isEmpty())
        return found.first();
    return std::nullopt;
}

// A name as it stands in an address: labels of letters, digits and hyphens,
// or an IP address.
bool isHostName(const QString &name)
{
    if (!QHostAddress(name).isNull())
        return true;
    const QStringList labels = name.split(u'.');
    return name.size() <= 253 && std::all_of(labels.begin(), labels.end(), [](const QString &l) {
               return !l.isEmpty() && l.size() <= 63 && !l.startsWith(u'-') && !l.endsWith(u'-') &&
                      std::all_of(l.begin(), l.end(), [](QChar c) {
                          return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                                 (c >= u'0' && c <= u'9') || c == u'-';
                      });
           });
}

QCommandLineOption valued(const char *name, const QString &help, const char *unit,
                          const QString &value)
{
    return QCommandLineOption(QString::fromLatin1(name), help, QString::fromLatin1(unit), value);
}

// An option whose help ends with its default.
QCommandLineOption defaulted(const char *name, const QString &what, const char *unit, double value)
{
    return valued(name, what + QStringLiteral(" (default: %1).").arg(value), unit,
                  QString::number(value));
}

// The options in the order --help lists them.
QList<QCommandLineOption> optionList(const ServerOptions &d)
{
    const ServerSettings &s = d.settings;
    return {
        valued("listen",
               QStringLiteral("Address or host name to listen on (default: 127.0.0.1, this "
                              "machine only; 0.0.0.0 for every interface)."),
               "ADDRESS", QStringLiteral("127.0.0.1")),
        defaulted("port", QStringLiteral("TCP port"), "PORT", d.port),
        defaulted("join-timeout",
                  QStringLiteral("Close a connection that has not joined within this many "
                                 "seconds"),
                  "SECONDS", s.joinTimeoutMs / 1000),
        defaulted("max-per-address",
                  QStringLiteral("Connections at a time from one address group (an IPv4 "
                                 "address or an IPv6 /64); 127.0.0.1 and ::1 are exempt; 0 for "
                                 "no limit"),
                  "N", s.maxPerAddress),
        defaulted("rate",
                  QStringLiteral("Packets a second an address group may send; what is over it is "
                                 "read later, nothing is dropped; 0 for no limit"),
                  "PACKETS", s.rate),
        defaulted("burst",
                  QStringLiteral("Packets a group may send at once before the rate applies"),
                  "PACKETS", s.burst),
        defaulted("byte-rate",
                  QStringLiteral("Bytes a second an address group may send; 0 for no limit"),
                  "BYTES", s.byteRate),
        defaulted("byte-burst",
                  QStringLiteral("Bytes a group may send at once before the byte rate applies"),
                  "BYTES", s.byteBurst),
        defaulted("join-rate",
                  QStringLiteral("Joins a second an address group may make; a join over it "
                                 "waits; 0 for no limit"),
                  "JOINS", s.joinRate),
        defaulted("join-burst",
                  QStringLiteral("Joins a group may make at once before the join rate applies"),
                  "JOINS", s.joinBurst),
        defaulted("connect-rate",
                  QStringLiteral("Connections a second an address group may open; the rest "
                                 "are closed at once; 0 for no limit"),
                  "CONNECTS", s.connectRate),
        defaulted("connect-burst",
                  QStringLiteral("Connections a group may open at once before the connect rate "
                                 "applies"),
                  "CONNECTS", s.connectBurst),
        defaulted("newcomer-quiet",
                  QStringLiteral("Send a newcomer nothing else for this many milliseconds after "
                                 "its client number, which has no terminator, so that it "
                                 "arrives alone; raise it for clients on slow or lossy links"),
                  "MS", s.newcomerQuietMs),
        defaulted("log-summary",
                  QStringLiteral("Sum up refused connections and log lines left out every this "
                                 "many seconds; the log takes at most 50 lines a second"),
                  "SECONDS", s.summaryIntervalMs / 1000),
        defaulted("web-port",
                  QStringLiteral("TCP port of the page that joins the stage from a browser, on "
                                 "the same address; 0 picks a free one"),
                  "PORT", d.webPort),
        defaulted("request-timeout",
                  QStringLiteral("Close a connection to the page that has not sent a whole "
                                 "request within this many seconds"),
                  "SECONDS", d.requestTimeoutMs / 1000),
        valued("web-host",
               QStringLiteral("A name the page answers to, as in its address: the public name "
                              "of a server behind a name. The listen address, this machine's "
                              "names and, on loopback, localhost always are. Give it once for "
                              "each name."),
               "NAME", {}),
        QCommandLineOption(QStringLiteral("no-web"), QStringLiteral("Serve no page for browsers.")),
        valued("ban-file",
               QStringLiteral("Keep the addresses, prefixes and names in this file off the "
                              "stage; read again on SIGHUP."),
               "FILE", {}),
        valued("control",
               QStringLiteral("Take the operator's commands (quandrel-server ctl) on a Unix "
                              "socket at this path, mode 0660, for root, the server's own user "
                              "and the group quandrel-admin."),
               "PATH", {}),
        valued("tls-cert",
               QStringLiteral("The server's certificate, its chain after it, in PEM (as "
                              "certbot's fullchain.pem); with --tls-key, the stage is also "
                              "served inside TLS and the page over HTTPS. Read again on SIGHUP."),
               "FILE", {}),
        valued("tls-key", QStringLiteral("The certificate's private key, in PEM."), "FILE", {}),
        defaulted("tls-port",
                  QStringLiteral("TCP port of the stage inside TLS; 0 picks a free one"), "PORT",
                  d.tlsPort),
        QCommandLineOption(QStringLiteral("tls-only"),
                           QStringLiteral("Close the plain stage port: only clients that "
                                          "encrypt may join.")),
        QCommandLineOption(QStringLiteral("no-notices"),
                           QStringLiteral("Do not tell the stage when someone joins or leaves.")),
        QCommandLineOption(QStringLiteral("log-stdout"),
                           QStringLiteral("Write the log on standard output instead of standard "
                                          "error, where a container engine looks for it.")),
        valued("metrics-listen",
               QStringLiteral("Serve the stage's figures for Prometheus at /metrics on this "
                              "address and port (127.0.0.1:9580, [::1]:9580; port 0 picks a "
                              "free one). Off unless given; keep it on loopback or a private "
                              "network."),
               "ADDRESS:PORT", {}),
    };
}

// Reads the values of one parsed command line; the first one that is wrong
// ends the reading with an error naming its option.
class Reader
{
public:
    // `fromEnvironment`: the options that the environment set, named there by
    // their variables.
    Reader(const QCommandLineParser &parser, ServerOptions &out, const QStringList &fromEnvironment)
        : m_parser(parser), m_out(out), m_fromEnvironment(fromEnvironment)
    {}

    // An option as the user wrote it: "--port", or "QUANDREL_PORT".
    QString label(const char *name) const
    {
        const QString option = QString::fromLatin1(name);
        return m_fromEnvironment.contains(option) ? ServerOptions::variableOf(option)
                                                  : QStringLiteral("--") + option;
    }

    bool ok() const { return m_out.error.isEmpty(); }
    bool isSet(const char *name) const { return m_parser.isSet(QString::fromLatin1(name)); }
    QString value(const char *name) const { return m_parser.value(QString::fromLatin1(name)); }
    QStringList values(const char *name) const
    {
        return m_parser.values(QString::fromLatin1(name));
    }
    void fail(const QString &message)
    {
        if (ok())
            m_out.error = message;
    }

    qint64 count(const char *name, qint64 min, qint64 max)
    {
        const auto value = OptionValues::count(this->value(name), min, max);
        if (!value)
            fail(rangeError(name, "a whole number", QString::number(min), QString::number(max)));
        return value.value_or(min);
    }
    double decimal(const char *name, double min, double max)
    {
        const auto value = OptionValues::decimal(this->value(name), min, max);
        if (!value)
            fail(rangeError(name, "a decimal number", QString::number(min), QString::number(max)));
        return value.value_or(min);
    }
    int milliseconds(const char *name) { return int(decimal(name, 0.001, 86400) * 1000); }
    quint16 port(const char *name) { return quint16(count(name, 0, 65535)); }

private:
    QString rangeError(const char *name, const char *what, const QString &min, const QString &max)
    {
        return QStringLiteral("%1 takes %2, not \"%3\" (from %4 to %5)")
            .arg(label(name), QLatin1String(what), value(name).left(100), min, max);
    }

    const QCommandLineParser &m_parser;
    ServerOptions &m_out;
    const QStringList m_fromEnvironment;
};

void readSettings(Reader &r, ServerSettings &s)
{
    s.joinTimeoutMs = r.milliseconds("join-timeout");
    s.maxPerAddress = int(r.count("max-per-address", 0, StageServer::MaxClients));
    s.rate = r.decimal("rate", 0, 1e9);
    // Bursts are counts of packets, bytes, joins and connects: whole numbers.
    s.burst = double(r.count("burst", 1, 1'000'000'000));
    s.byteRate = r.decimal("byte-rate", 0, 1e12);
    s.byteBurst = double(r.count("byte-burst", 1, 1'000'000'000'000));
    s.joinRate = r.decimal("join-rate", 0, 1e9);
    s.joinBurst = double(r.count("join-burst", 1, 1'000'000'000));
    s.connectRate = r.decimal("connect-rate", 0, 1e9);
    s.connectBurst = double(r.count("connect-burst", 1, 1'000'000'000));
    s.newcomerQuietMs = int(r.count("newcomer-quiet", 2, 10'000));
    s.summaryIntervalMs = int(r.decimal("log-summary", 0.1, 86400) * 1000);
    s.notices = !r.isSet("no-notices");
}

// An address as written, or what a host name stands for.
std::optional<QHostAddress> addressOf(const QString &text, const ServerOptions::Resolve &resolve)
{
    const QHostAddress address(text);
    return address.isNull() ? resolve(text) : std::optional(address);
}

// "host:port" or "[v6]:port", the port required, read as the client reads
// a server's address.
void readMetrics(Reader &r, ServerOptions &o, const ServerOptions::Resolve &resolve)
{
    const QString text = r.value("metrics-listen");
    const auto parsed = ServerAddress::parse(text, std::nullopt);
    const std::optional<QHostAddress> address =
        parsed && !parsed->tls ? addressOf(parsed->host, resolve) : std::nullopt;
    if (!address) {
        r.fail(QStringLiteral("%1 takes ADDRESS:PORT (127.0.0.1:9580, [::1]:9580), not \"%2\"")
                   .arg(r.label("metrics-listen"), text.left(100)));
        return;
    }
    o.metricsAddress = *address;
    o.metricsPort = parsed->port;
}

void read(Reader &r, ServerOptions &o, const ServerOptions::Resolve &resolve)
{
    // Only this machine unless told otherwise: opening a server to a network is a choice.
    const QString listen = r.value("listen");
    const std::optional<QHostAddress> address = addressOf(listen, resolve);
    if (!address)
        r.fail(QStringLiteral("%1: not an address or known host name: %2")
                   .arg(r.label("listen"), listen.left(100)));
    else if (*address == QHostAddress(QHostAddress::AnyIPv6))
        o.address = QHostAddress(QHostAddress::Any); // "::" takes IPv4 as well
    else
        o.address = *address;
    o.port = r.port("port");
    o.webPort = r.port("web-port");
    o.requestTimeoutMs = r.milliseconds("request-timeout");
    o.tlsPort = r.port("tls-port");
    o.web = !r.isSet("no-web");
    for (const QString &name : r.values("web-host")) {
        if (!isHostName(name))
            r.fail(QStringLiteral("%1 takes a host name or an address, not \"%2\"")
                       .arg(r.label("web-host"), name.left(100)));
        o.webHosts.append(name);
    }
    o.certificateFile = r.value("tls-cert");
    o.keyFile = r.value("tls-key");
    if (o.certificateFile.isEmpty() != o.keyFile.isEmpty())
        r.fail(QStringLiteral("--tls-cert and --tls-key go together"));
    o.tlsOnly = r.isSet("tls-only");
    if (o.tlsOnly && !o.tls())
        r.fail(QStringLiteral("--tls-only needs --tls-cert and --tls-key"));
    o.banFile = r.value("ban-file");
    o.controlPath = r.value("control");
    o.logToStdout = r.isSet("log-stdout");
    if (r.isSet("metrics-listen"))
        readMetrics(r, o, resolve);
    readSettings(r, o.settings);
}

} // namespace

QString ServerOptions::variableOf(const QString &option)
{
    return QStringLiteral("QUANDREL_") + option.toUpper().replace(u'-', u'_');
}

namespace {

// The options that the environment gives and the command line does not, as
// arguments; an error names the variable whose value is wrong.
QStringList fromEnvironment(const QCommandLineParser &parser,
                            const QList<QCommandLineOption> &options,
                            const QProcessEnvironment &environment, QStringList *given,
                            QString *error)
{
    static const QStringList yes = {"1", "yes", "true", "on"};
    static const QStringList no = {"0", "no", "false", "off", ""};
    QStringList arguments;
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().constFirst();
        const QString variable = ServerOptions::variableOf(name);
        if (parser.isSet(name) || !environment.contains(variable))
            continue;
        const QString value = environment.value(variable).trimmed();
        if (option.valueName().isEmpty()) {
            if (!yes.contains(value, Qt::CaseInsensitive) &&
                !no.contains(value, Qt::CaseInsensitive)) {
                *error = QStringLiteral("%1 takes 1 or 0 (yes or no), not \"%2\"")
                             .arg(variable, value.left(100));
                return {};
            }
            if (yes.contains(value, Qt::CaseInsensitive))
                arguments.append(QStringLiteral("--") + name);
        } else if (name == u"web-host") {
            // Several names, as the option is given several times.
            for (const QString &host :
                 value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts))
                arguments.append(QStringLiteral("--web-host=") + host);
        } else {
            arguments.append(QStringLiteral("--%1=%2").arg(name, value));
        }
        given->append(name);
    }
    return arguments;
}

} // namespace

ServerOptions ServerOptions::parse(const QStringList &arguments, const Resolve &resolve,
                                   const QProcessEnvironment &environment)
{
    ServerOptions options;
    const QList<QCommandLineOption> optionsListed = optionList(options);
    // A parser a reading: QCommandLineParser keeps what it last read.
    const auto makeParser = [&optionsListed](QCommandLineParser &parser) {
        parser.setApplicationDescription(QStringLiteral(
            "Quandrel stage server: relays avatars, steps and chat between up to ten clients."));
        const QCommandLineOption help = parser.addHelpOption();
        const QCommandLineOption version = parser.addVersionOption();
        parser.addOptions(optionsListed);
        return std::pair(help, version);
    };
    QCommandLineParser parser;
    const auto [help, version] = makeParser(parser);
    options.helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        options.action = Action::Error;
        options.error = parser.errorText();
        return options;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        options.action = Action::Help;
        return options;
    }
    if (parser.isSet(version)) {
        options.action = Action::Version;
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.action = Action::Error;
        options.error =
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return options;
    }
    QStringList given;
    const QStringList extra =
        fromEnvironment(parser, optionsListed, environment, &given, &options.error);
    if (!options.error.isEmpty()) {
        options.action = Action::Error;
        return options;
    }
    QCommandLineParser withEnvironment;
    makeParser(withEnvironment);
    // Each of the environment's values is one argument of the form
    // --name=value, so that no value can be taken for an option; they go
    // before a "--" that ends the options.
    QStringList all = arguments;
    const qsizetype end = all.indexOf(QStringLiteral("--"));
    for (qsizetype i = 0; i < extra.size(); ++i)
        all.insert(end < 0 ? all.size() : end + i, extra[i]);
    withEnvironment.parse(all);
    Reader reader(withEnvironment, options, given);
    read(reader, options, resolve ? resolve : ServerOptions::Resolve(lookUp));
    if (!reader.ok())
        options.action = Action::Error;
    return options;
}
