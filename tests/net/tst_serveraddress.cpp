// SPDX-License-Identifier: MIT
#include "net/ServerAddress.h"

#include <QTest>

// What the user may type as a server address.
class TestServerAddress : public QObject
{
    Q_OBJECT

private slots:
    void addressForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("tls");
        QTest::newRow("host") << "stage.example.net"
                              << "stage.example.net" << 2579 << false;
        QTest::newRow("host:port") << " 127.0.0.1:3000 "
                                   << "127.0.0.1" << 3000 << false;
        QTest::newRow("[v6]:port") << "[::1]:4000"
                                   << "::1" << 4000 << false;
        QTest::newRow("[v6]") << "[::1]"
                              << "::1" << 2579 << false;
        QTest::newRow("bare v6") << "fe80::1"
                                 << "fe80::1" << 2579 << false;
        QTest::newRow("port 0, any free one") << "host:0"
                                              << "host" << 0 << false;
        QTest::newRow("port too large") << "host:65536"
                                        << "" << 0 << false;
        QTest::newRow("no host") << ":3000"
                                 << "" << 0 << false;
        QTest::newRow("empty") << ""
                               << "" << 0 << false;
        QTest::newRow("tls://host") << "tls://stage.example.net"
                                    << "stage.example.net" << 2581 << true;
        QTest::newRow("TLS://host:port") << " TLS://stage.example.net:3001"
                                         << "stage.example.net" << 3001 << true;
        QTest::newRow("tls://[v6]:port") << "tls://[::1]:4001"
                                         << "::1" << 4001 << true;
        QTest::newRow("tls:// alone") << "tls://"
                                      << "" << 0 << false;
        QTest::newRow("tls:// bad port") << "tls://host:x"
                                         << "" << 0 << false;
    }
    // Where a port is required (a server's own option): every form that
    // leaves it out is refused, and one that gives it reads as above.
    void aPortRequired()
    {
        for (const char *without : {"host", "[::1]", "fe80::1", "tls://host", " ", "host:"})
            QVERIFY2(!ServerAddress::parse(QString::fromLatin1(without), std::nullopt), without);
        const auto v6 = ServerAddress::parse(QStringLiteral("[::1]:9580"), std::nullopt);
        QVERIFY(v6 && v6->host == u"::1" && v6->port == 9580);
        const auto any = ServerAddress::parse(QStringLiteral("127.0.0.1:0"), std::nullopt);
        QVERIFY(any && any->port == 0);
    }

    void addressForms()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, tls);
        const auto parsed = ServerAddress::parse(text, 2579);
        QCOMPARE(parsed.has_value(), !host.isEmpty());
        if (parsed) {
            QCOMPARE(parsed->host, host);
            QCOMPARE(int(parsed->port), port);
            QCOMPARE(parsed->tls, tls);
        }
    }
};

QTEST_APPLESS_MAIN(TestServerAddress)
#include "tst_serveraddress.moc"
