// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"
#include "TestCertificates.h"

#include <QFile>
#include <QSslSocket>
#include <QTest>
#include <csignal>
#include <memory>

// The stage inside TLS against the real server binary, with certificates a
// test authority made: TLS and plain clients on one stage, the handshake
// under the join deadline, the certificate swapped on SIGHUP, and files that
// stop the start.
class TestTls : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestCertificates> certificates;

    QStringList tlsOptions(const QString &name = QStringLiteral("good"))
    {
        return {QStringLiteral("--tls-cert"), certificates->pem(name), QStringLiteral("--tls-key"),
                certificates->key(name)};
    }

    // A client that trusts the test authority; connected and encrypted, or not.
    std::unique_ptr<QSslSocket> encrypted(quint16 port)
    {
        auto socket = std::make_unique<QSslSocket>();
        QSslConfiguration configuration = socket->sslConfiguration();
        configuration.addCaCertificate(certificates->authority());
        socket->setSslConfiguration(configuration);
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        socket->waitForEncrypted(5000);
        return socket;
    }

    static QByteArray joinAs(QSslSocket &socket, const QByteArray &name)
    {
        socket.write('\x0A' + name + '\0');
        QByteArray in;
        // What came, if anything, is the caller's to judge.
        (void)QTest::qWaitFor([&] { return (in += socket.readAll()).size() >= 13; }, 5000);
        return in.left(13);
    }

    static bool replace(const QString &from, const QString &to)
    {
        QFile::remove(to);
        return QFile::copy(from, to);
    }

private slots:
    void initTestCase()
    {
        certificates = std::make_unique<TestCertificates>();
        QVERIFY(certificates->ok());
    }

    void encryptedAndPlainClientsShareTheStage()
    {
        ServerProcess server;
        QVERIFY(server.start(tlsOptions()));
        auto secret = encrypted(server.tlsPort());
        QVERIFY2(secret->isEncrypted(), qPrintable(secret->errorString()));
        QVERIFY(secret->sessionProtocol() == QSsl::TlsV1_2 ||
                secret->sessionProtocol() == QSsl::TlsV1_3);
        QCOMPARE(joinAs(*secret, "Secret"), QByteArray("ClientNumber0"));
        StagePeer plain(server.port());
        QCOMPARE(plain.join("Plain"), 1);
        secret->write(QByteArray("\x02[Secret] - psst\r\n\0", 19));
        QVERIFY(plain.waitForPackets(1));
        QCOMPARE(plain.packets().last(), QByteArray("[Secret] - psst\r\n"));
        // The page is served over HTTPS.
        QVERIFY(server.log().contains(QStringLiteral("the page is at https://127.0.0.1:")));
    }

    void aHandshakeCountsTowardTheJoinDeadline()
    {
        ServerProcess server;
        QVERIFY(server.start(tlsOptions() +
                             QStringList{QStringLiteral("--join-timeout"), QStringLiteral("0.5")}));
        StagePeer silent(server.tlsPort(), QHostAddress(QStringLiteral("127.0.0.3"))); // no hello
        QVERIFY(silent.waitForClose(3000));
        // Failed handshakes are logged once in a while, not once each.
        for (int i = 0; i < 3; ++i) {
            StagePeer garbage(server.tlsPort(), QHostAddress(QStringLiteral("127.0.0.2")));
            garbage.write("this is not TLS\r\n\r\n");
            QVERIFY(garbage.waitForClose(3000));
        }
        QTRY_VERIFY(server.log().contains(QStringLiteral("TLS handshake failed")));
        QCOMPARE(server.log().count(QStringLiteral("TLS handshake failed")), 1);
    }

    void aReloadSwapsTheCertificateForNewConnectionsOnly()
    {
        QTemporaryDir dir;
        const QString pem = dir.filePath(QStringLiteral("fullchain.pem"));
        const QString key = dir.filePath(QStringLiteral("privkey.pem"));
        QVERIFY(replace(certificates->pem(QStringLiteral("good")), pem));
        QVERIFY(replace(certificates->key(QStringLiteral("good")), key));
        ServerProcess server;
        QVERIFY(
            server.start({QStringLiteral("--tls-cert"), pem, QStringLiteral("--tls-key"), key}));
        auto before = encrypted(server.tlsPort());
        QVERIFY(before->isEncrypted());
        QCOMPARE(before->peerCertificate(), certificates->certificate(QStringLiteral("good")));
        QCOMPARE(joinAs(*before, "Before"), QByteArray("ClientNumber0"));

        // A pair that does not fit is not taken: the old one stays.
        QVERIFY(replace(certificates->key(QStringLiteral("other")), key));
        ::kill(pid_t(server.pid()), SIGHUP);
        QTRY_VERIFY(server.log().contains(QStringLiteral("the old one stays")));
        QCOMPARE(encrypted(server.tlsPort())->peerCertificate(),
                 certificates->certificate(QStringLiteral("good")));

        QVERIFY(replace(certificates->pem(QStringLiteral("other")), pem));
        ::kill(pid_t(server.pid()), SIGHUP);
        QTRY_VERIFY(server.log().contains(QStringLiteral("certificate read again")));
        auto after = encrypted(server.tlsPort());
        QCOMPARE(after->peerCertificate(), certificates->certificate(QStringLiteral("other")));
        QCOMPARE(joinAs(*after, "After"), QByteArray("ClientNumber1"));
        // The one connected before is still on the stage.
        before->write(QByteArray("\x02[Before] - still here\r\n\0", 25));
        QByteArray in;
        QVERIFY(QTest::qWaitFor(
            [&] { return (in += after->readAll()).contains("[Before] - still here"); }, 5000));
    }

    void filesThatStopTheStart_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("why");
        QTest::newRow("no certificate file") << "missing"
                                             << "good"
                                             << "missing.pem: ";
        QTest::newRow("no key file") << "good"
                                     << "missing"
                                     << "missing.key: ";
        QTest::newRow("the key of another") << "good"
                                            << "other"
                                            << "not the key of the certificate";
        QTest::newRow("a key for a certificate") << "good"
                                                 << "good.pem"
                                                 << "no private key in PEM";
    }
    void filesThatStopTheStart()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, why);
        const QString keyFile =
            key.endsWith(u".pem") ? certificates->pem(key.chopped(4)) : certificates->key(key);
        ServerProcess server;
        QVERIFY(!server.start({QStringLiteral("--tls-cert"), certificates->pem(certificate),
                               QStringLiteral("--tls-key"), keyFile}));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY2(server.log().contains(why), qPrintable(server.log()));
    }

    void tlsOnlyClosesThePlainPort()
    {
        ServerProcess server;
        QVERIFY(server.start(tlsOptions() + QStringList{QStringLiteral("--tls-only")}));
        QCOMPARE(server.log().count(QStringLiteral("listening on")), 1);
        QCOMPARE(server.port(), server.tlsPort());
        QVERIFY(encrypted(server.tlsPort())->isEncrypted());
    }
};

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
