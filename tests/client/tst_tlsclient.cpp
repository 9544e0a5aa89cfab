// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "TestCertificates.h"
#include "client/ClientSession.h"
#include "client/SessionProbe.h"
#include "net/Wsk.h"

#include <QTest>
#include <memory>

// The client's "tls://" against the real server with certificates of a test
// authority: it joins when the certificate is trusted for the host, and
// sends nothing when it is not.
class TestTlsClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestCertificates> certificates;

    // A session that trusts the test authority, as a system that has it in
    // its certificate store would.
    std::unique_ptr<ClientSession> session()
    {
        auto s = std::make_unique<ClientSession>();
        SessionProbe(*s).Wsk().addCaCertificates({certificates->authority()});
        return s;
    }

private slots:
    void initTestCase()
    {
        certificates = std::make_unique<TestCertificates>();
        QVERIFY(certificates->ok());
    }

    void joinsOverTls()
    {
        ServerProcess server;
        QVERIFY(
            server.start({QStringLiteral("--tls-cert"), certificates->pem(QStringLiteral("good")),
                          QStringLiteral("--tls-key"), certificates->key(QStringLiteral("good"))}));
        auto client = session();
        QVERIFY(client->connectTo(QStringLiteral("Gimbo"),
                                  QStringLiteral("tls://127.0.0.1:%1").arg(server.tlsPort())));
        QTRY_COMPARE(client->State(), int(Wsk::sckConnected));
        QTRY_COMPARE(client->numberText(), QStringLiteral("0"));
        QTRY_VERIFY(client->numbered());
        QVERIFY2(client->transcript().text().contains(QStringLiteral(", encrypted\r\n")),
                 qPrintable(client->transcript().text()));
        QTRY_VERIFY(server.log().contains(QStringLiteral("join 127.0.0.1")));
    }

    void anUntrustedCertificateSendsNothing_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("host");
        QTest::newRow("for another host") << "wronghost"
                                          << "127.0.0.1";
        QTest::newRow("expired") << "expired"
                                 << "127.0.0.1";
        QTest::newRow("self-signed") << "selfsigned"
                                     << "127.0.0.1";
    }
    void anUntrustedCertificateSendsNothing()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, host);
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--tls-cert"), certificates->pem(certificate),
                              QStringLiteral("--tls-key"), certificates->key(certificate)}));
        auto client = session();
        QVERIFY(client->connectTo(QStringLiteral("Gimbo"),
                                  QStringLiteral("tls://%1:%2").arg(host).arg(server.tlsPort())));
        const QString untrusted =
            QStringLiteral("Could not connect: the server's certificate is not trusted: ");
        QTRY_VERIFY2(client->transcript().text().contains(untrusted),
                     qPrintable(client->transcript().text()));
        QCOMPARE(client->State(), int(Wsk::sckError));
        QVERIFY(!client->transcript().text().contains(QStringLiteral("Connected")));
        // The connection is gone, and not a byte of the join reached the stage.
        QTRY_VERIFY(server.log().contains(QStringLiteral("leave 127.0.0.1")));
        QVERIFY(!server.log().contains(QStringLiteral("join ")));
    }
};

QTEST_GUILESS_MAIN(TestTlsClient)
#include "tst_tlsclient.moc"
