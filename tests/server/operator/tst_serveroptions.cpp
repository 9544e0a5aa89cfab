// SPDX-License-Identifier: MIT
#include "server/operator/ServerOptions.h"

#include <QTest>

// The command line, option by option: what each sets, each value it refuses
// (naming the option), and what holds when it is not given.
class TestServerOptions : public QObject
{
    Q_OBJECT

    // Names as a resolver would give them, without asking any.
    static std::optional<QHostAddress> resolve(const QString &name)
    {
        if (name == u"stage.test")
            return QHostAddress(QStringLiteral("192.0.2.20"));
        return std::nullopt;
    }
    static QProcessEnvironment environment(const QStringList &variables)
    {
        QProcessEnvironment e;
        for (const QString &v : variables)
            e.insert(v.section(u'=', 0, 0), v.section(u'=', 1));
        return e;
    }
    static ServerOptions parse(QStringList arguments)
    {
        arguments.prepend(QStringLiteral("quandrel-server"));
        return ServerOptions::parse(arguments, resolve);
    }
    // One of the options, as text, to compare in a table.
    static QString field(const ServerOptions &o, const QString &name)
    {
        const ServerSettings &s = o.settings;
        const std::map<QString, QString> fields = {
            {"listen", o.address.toString()},
            {"port", QString::number(o.port)},
            {"join-timeout", QString::number(s.joinTimeoutMs)},
            {"max-per-address", QString::number(s.maxPerAddress)},
            {"rate", QString::number(s.rate)},
            {"burst", QString::number(s.burst)},
            {"byte-rate", QString::number(s.byteRate)},
            {"byte-burst", QString::number(s.byteBurst)},
            {"join-rate", QString::number(s.joinRate)},
            {"join-burst", QString::number(s.joinBurst)},
            {"connect-rate", QString::number(s.connectRate)},
            {"connect-burst", QString::number(s.connectBurst)},
            {"log-summary", QString::number(s.summaryIntervalMs)},
            {"web-port", QString::number(o.webPort)},
            {"no-web", o.web ? "web" : "no web"},
            {"request-timeout", QString::number(o.requestTimeoutMs)},
            {"ban-file", o.banFile},
            {"tls", o.certificateFile + u' ' + o.keyFile},
            {"tls-port", QString::number(o.tlsPort)},
            {"tls-only", o.tlsOnly ? "tls only" : "plain too"},
            {"no-notices", s.notices ? "notices" : "no notices"},
            {"web-host", o.webHosts.join(u' ')},
            {"log-stdout", o.logToStdout ? "stdout" : "stderr"},
            {"metrics-listen",
             o.metricsAddress ? o.metricsAddress->toString() + u' ' + QString::number(o.metricsPort)
                              : QStringLiteral("off")},
        };
        return fields.at(name);
    }

private slots:
    void eachOption_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("byDefault");
        QTest::addColumn<QString>("given");
        const auto row = [](const char *name, QStringList arguments, const char *byDefault,
                            const char *given) {
            QTest::newRow(name) << arguments << QString::fromLatin1(name)
                                << QString::fromLatin1(byDefault) << QString::fromLatin1(given);
        };
        row("listen", {"--listen", "::1"}, "127.0.0.1", "::1");
        row("port", {"--port", "3000"}, "2579", "3000");
        row("join-timeout", {"--join-timeout", "2.5"}, "10000", "2500");
        row("max-per-address", {"--max-per-address", "10"}, "4", "10");
        row("rate", {"--rate", "0"}, "50", "0");
        row("burst", {"--burst", "7"}, "100", "7");
        row("byte-rate", {"--byte-rate", "100.5"}, "8192", "100.5");
        row("byte-burst", {"--byte-burst", "1"}, "32768", "1");
        row("join-rate", {"--join-rate", "0.5"}, "1", "0.5");
        row("join-burst", {"--join-burst", "2"}, "5", "2");
        row("connect-rate", {"--connect-rate", "3"}, "10", "3");
        row("connect-burst", {"--connect-burst", "4"}, "10", "4");
        row("log-summary", {"--log-summary", "0.1"}, "10000", "100");
        row("web-port", {"--web-port", "0"}, "2580", "0");
        row("no-web", {"--no-web"}, "web", "no web");
        row("request-timeout", {"--request-timeout", "0.25"}, "10000", "250");
        row("ban-file", {"--ban-file", "/etc/bans"}, "", "/etc/bans");
        row("tls", {"--tls-cert", "c.pem", "--tls-key", "k.pem"}, " ", "c.pem k.pem");
        row("tls-port", {"--tls-port", "443"}, "2581", "443");
        row("tls-only", {"--tls-only", "--tls-cert", "c", "--tls-key", "k"}, "plain too",
            "tls only");
        row("no-notices", {"--no-notices"}, "notices", "no notices");
        row("metrics-listen", {"--metrics-listen", "127.0.0.1:9580"}, "off", "127.0.0.1 9580");
        QTest::newRow("metrics-listen v6")
            << QStringList{"--metrics-listen", "[::1]:0"} << "metrics-listen"
            << "off"
            << "::1 0";
        QTest::newRow("metrics-listen name")
            << QStringList{"--metrics-listen", "stage.test:9100"} << "metrics-listen"
            << "off"
            << "192.0.2.20 9100";
    }
    void eachOption()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, field);
        QFETCH(QString, byDefault);
        QFETCH(QString, given);
        const ServerOptions defaults = parse({});
        QCOMPARE(defaults.action, ServerOptions::Action::Run);
        QCOMPARE(this->field(defaults, field), byDefault);
        const ServerOptions options = parse(arguments);
        QVERIFY2(options.error.isEmpty(), qPrintable(options.error));
        QCOMPARE(options.action, ServerOptions::Action::Run);
        QCOMPARE(this->field(options, field), given);
    }

    void malformedValues_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        const auto rows = [](const char *option, std::initializer_list<const char *> values) {
            for (const char *value : values)
                QTest::addRow("%s %s", option, value)
                    << QStringList{QStringLiteral("--") + QLatin1String(option),
                                   QString::fromLatin1(value)}
                    << QStringLiteral("--") + QLatin1String(option);
        };
        for (const char *port : {"port", "web-port", "tls-port"})
            rows(port, {"nan", "2579.9", "65536", "-1", "", "0x10", "80 "});
        for (const char *seconds : {"join-timeout", "request-timeout", "log-summary"})
            rows(seconds, {"nan", "inf", "10s", "0", "-1", "1e3", "86401"});
        rows("max-per-address", {"2.5", "11", "-1", "nan"});
        for (const char *rate : {"rate", "byte-rate", "join-rate", "connect-rate"})
            rows(rate, {"nan", "inf", "-1", "1e3", "5/s"});
        for (const char *burst : {"burst", "byte-burst", "join-burst", "connect-burst"})
            rows(burst, {"0", "nan", "inf", "-3", "2.5", "1."});
        rows("metrics-listen", {"9580", ":9580", "127.0.0.1", "127.0.0.1:", "127.0.0.1:65536",
                                "::1:9580", "[::1]", "nowhere.test:9580", "127.0.0.1:x"});
        QTest::newRow("unknown host")
            << QStringList{"--listen", "nowhere.test"} << QStringLiteral("nowhere.test");
        QTest::newRow("cert alone")
            << QStringList{"--tls-cert", "c.pem"} << QStringLiteral("--tls-cert and --tls-key");
        QTest::newRow("key alone")
            << QStringList{"--tls-key", "k.pem"} << QStringLiteral("--tls-cert and --tls-key");
        QTest::newRow("tls-only alone")
            << QStringList{"--tls-only"} << QStringLiteral("--tls-only needs");
        QTest::newRow("an argument") << QStringList{"extra"} << QStringLiteral("\"extra\"");
        QTest::newRow("unknown option") << QStringList{"--colour"} << QStringLiteral("colour");
        QTest::newRow("value missing") << QStringList{"--port"} << QStringLiteral("port");
    }
    void malformedValues()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        const ServerOptions options = parse(arguments);
        QCOMPARE(options.action, ServerOptions::Action::Error);
        QVERIFY2(options.error.contains(named), qPrintable(options.error));
        QVERIFY(options.helpText.contains(u"--listen <ADDRESS>"));
    }

    // Options from the environment, as a container engine gives them: the
    // command line wins, flags take yes or no, and a value is only ever a value.
    void fromTheEnvironment_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("given");
        QTest::newRow("port") << QStringList{"QUANDREL_PORT=3000"} << QStringList{} << "port"
                              << "3000";
        QTest::newRow("command line wins")
            << QStringList{"QUANDREL_PORT=3000"} << QStringList{"--port", "4000"} << "port"
            << "4000";
        QTest::newRow("listen") << QStringList{"QUANDREL_LISTEN=0.0.0.0"} << QStringList{}
                                << "listen"
                                << "0.0.0.0";
        QTest::newRow("figures") << QStringList{"QUANDREL_METRICS_LISTEN=0.0.0.0:9580"}
                                 << QStringList{} << "metrics-listen"
                                 << "0.0.0.0 9580";
        QTest::newRow("flag 1") << QStringList{"QUANDREL_NO_WEB=1"} << QStringList{} << "no-web"
                                << "no web";
        QTest::newRow("flag true")
            << QStringList{"QUANDREL_LOG_STDOUT=True"} << QStringList{} << "log-stdout"
            << "stdout";
        QTest::newRow("flag 0") << QStringList{"QUANDREL_NO_WEB=0"} << QStringList{} << "no-web"
                                << "web";
        QTest::newRow("flag empty")
            << QStringList{"QUANDREL_NO_NOTICES="} << QStringList{} << "no-notices"
            << "notices";
        QTest::newRow("names") << QStringList{"QUANDREL_WEB_HOST= a.test, b.test  c.test"}
                               << QStringList{} << "web-host"
                               << "a.test b.test c.test";
        QTest::newRow("a value like an option")
            << QStringList{"QUANDREL_BAN_FILE=--no-web"} << QStringList{} << "no-web"
            << "web";
        QTest::newRow("its file") << QStringList{"QUANDREL_BAN_FILE=--no-web"} << QStringList{}
                                  << "ban-file"
                                  << "--no-web";
        QTest::newRow("before the end of options")
            << QStringList{"QUANDREL_PORT=3000"} << QStringList{"--"} << "port"
            << "3000";
        QTest::newRow("other variables")
            << QStringList{"QUANDREL_SERVER_OPTS=--port 5", "QUANDREL_HELP=1", "PORT=7"}
            << QStringList{} << "port"
            << "2579";
    }
    void fromTheEnvironment()
    {
        QFETCH(QStringList, variables);
        QFETCH(QStringList, arguments);
        QFETCH(QString, field);
        QFETCH(QString, given);
        arguments.prepend(QStringLiteral("quandrel-server"));
        const ServerOptions options =
            ServerOptions::parse(arguments, resolve, environment(variables));
        QVERIFY2(options.error.isEmpty(), qPrintable(options.error));
        QCOMPARE(options.action, ServerOptions::Action::Run);
        QCOMPARE(this->field(options, field), given);
    }

    // A wrong value names the variable it came from, not an option nobody wrote.
    void malformedEnvironment_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::newRow("port") << "QUANDREL_PORT=x";
        QTest::newRow("empty port") << "QUANDREL_PORT=";
        QTest::newRow("rate") << "QUANDREL_RATE=-1";
        QTest::newRow("flag") << "QUANDREL_NO_WEB=maybe";
        QTest::newRow("name") << "QUANDREL_WEB_HOST=a_b.test";
        QTest::newRow("figures") << "QUANDREL_METRICS_LISTEN=9580";
        QTest::newRow("listen") << "QUANDREL_LISTEN=nowhere.test";
    }
    void malformedEnvironment()
    {
        QFETCH(QString, variable);
        const ServerOptions options = ServerOptions::parse({QStringLiteral("quandrel-server")},
                                                           resolve, environment({variable}));
        QCOMPARE(options.action, ServerOptions::Action::Error);
        QVERIFY2(options.error.startsWith(variable.section(u'=', 0, 0)), qPrintable(options.error));
    }

    void namesAndTheAnyAddress()
    {
        QCOMPARE(parse({"--listen", "stage.test"}).address,
                 QHostAddress(QStringLiteral("192.0.2.20")));
        // "::" takes IPv4 as well.
        QCOMPARE(parse({"--listen", "::"}).address, QHostAddress(QHostAddress::Any));
        QCOMPARE(parse({"--listen", "0.0.0.0"}).address, QHostAddress(QHostAddress::AnyIPv4));
    }

    void helpAndVersion()
    {
        QCOMPARE(parse({"--help"}).action, ServerOptions::Action::Help);
        QCOMPARE(parse({"-h"}).action, ServerOptions::Action::Help);
        QCOMPARE(parse({"--version"}).action, ServerOptions::Action::Version);
        QCOMPARE(parse({"--port", "nan", "--help"}).action, ServerOptions::Action::Help);
        const QString help = parse({"--help"}).helpText;
        for (const char *option :
             {"--listen",      "--port",       "--join-timeout", "--max-per-address",
              "--rate",        "--burst",      "--byte-rate",    "--byte-burst",
              "--join-rate",   "--join-burst", "--connect-rate", "--connect-burst",
              "--log-summary", "--web-port",   "--no-web",       "--request-timeout",
              "--ban-file",    "--tls-cert",   "--tls-key",      "--tls-port",
              "--tls-only",    "--no-notices"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(TestServerOptions)
#include "tst_serveroptions.moc"
