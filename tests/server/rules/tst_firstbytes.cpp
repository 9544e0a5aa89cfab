// SPDX-License-Identifier: MIT
#include "server/rules/FirstBytes.h"

#include <QTest>

// What a connection to the stage port speaks, told from its first bytes,
// however few have come.
class TestFirstBytes : public QObject
{
    Q_OBJECT

    using Kind = FirstBytes::Kind;

private slots:
    void whatItSpeaks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Kind>("kind");
        QTest::newRow("a join") << QByteArray("\x0AGimbo\0", 7) << Kind::Stage;
        QTest::newRow("an empty join") << QByteArray("\x0A\0", 2) << Kind::Stage;
        QTest::newRow("a packet before the join") << QByteArray("\x02[x] - y") << Kind::Stage;
        QTest::newRow("a lone terminator") << QByteArray(1, '\0') << Kind::Stage;
        QTest::newRow("nothing yet") << QByteArray() << Kind::Undecided;
        QTest::newRow("POST") << QByteArray("POST / HTTP/1.1\r\n") << Kind::Http;
        QTest::newRow("get in lower case") << QByteArray("get /") << Kind::Http;
        QTest::newRow("any method") << QByteArray("PROPFIND /x") << Kind::Http;
        QTest::newRow("a method cut short") << QByteArray("POS") << Kind::Undecided;
        QTest::newRow("letters, then a marker") << QByteArray("Gimbo\x0A") << Kind::Stage;
        QTest::newRow("letters past any method")
            << QByteArray(FirstBytes::Enough, 'A') << Kind::Stage;
        QTest::newRow("a ClientHello") << QByteArray("\x16\x03\x01\x02\x00\x01", 6) << Kind::Tls;
        QTest::newRow("a ClientHello's first byte") << QByteArray("\x16") << Kind::Undecided;
        QTest::newRow("0x16, then no version") << QByteArray("\x16\x0A", 2) << Kind::Stage;
    }
    void whatItSpeaks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Kind, kind);
        QCOMPARE(FirstBytes::of(bytes), kind);
    }

    // Every prefix of a request is either undecided or already HTTP, and
    // a decision never needs more than Enough bytes.
    void decidedInTime()
    {
        const QByteArray request = "OPTIONS * HTTP/1.1\r\n";
        for (qsizetype n = 0; n <= request.size(); ++n) {
            const Kind kind = FirstBytes::of(QByteArrayView(request).first(n));
            QVERIFY(kind == Kind::Undecided || kind == Kind::Http);
        }
        QCOMPARE(FirstBytes::of(request), Kind::Http);
        const QByteArray noise(FirstBytes::Enough, 'x');
        QVERIFY(FirstBytes::of(noise) != Kind::Undecided);
    }
};

QTEST_APPLESS_MAIN(TestFirstBytes)
#include "tst_firstbytes.moc"
