// SPDX-License-Identifier: MIT
#include "server/RelayRules.h"

#include <QTest>

// What the server relays, how it names people in its notices, and how it
// groups addresses for the per-address limit.
class TestRelayRules : public QObject
{
    Q_OBJECT

private slots:
    void ownPackets_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("own");
        const QByteArray ann = "[Ann] - ";
        QTest::newRow("step of 0") << QByteArray("Action0GoLeftGimboX1800Y480Z") << 0 << true;
        QTest::newRow("step of 9") << QByteArray("Action9GoRightNubo X900Y480Z") << 9 << true;
        QTest::newRow("presence of 9") << QByteArray("Action9StLeftVeck X100") << 9 << true;
        QTest::newRow("0 as 9") << QByteArray("Action9GoLeftGimboX1800Y480Z") << 0 << false;
        QTest::newRow("9 as 0") << QByteArray("Action0GoLeftGimboX1800Y480Z") << 9 << false;
        QTest::newRow("9 as 8") << QByteArray("Action8StLeftGimboX1800") << 9 << false;
        QTest::newRow("no number") << QByteArray("Action") << 3 << false;
        QTest::newRow("chat") << ann + "hi\r\n" << 4 << true;
        QTest::newRow("empty chat") << ann + "\r\n" << 4 << true;
        QTest::newRow("no line end") << ann + "hi" << 4 << false;
        QTest::newRow("LF only") << ann + "hi\n" << 4 << false;
        QTest::newRow("second line") << ann + "hi\r\n[Bob] - x\r\n" << 4 << false;
        QTest::newRow("bare CR inside") << ann + "a\rb\r\n" << 4 << false;
        QTest::newRow("someone else") << QByteArray("[Bob] - hi\r\n") << 4 << false;
        QTest::newRow("longer name") << QByteArray("[Anna] - hi\r\n") << 4 << false;
        QTest::newRow("no separator") << QByteArray("[Ann]hi\r\n") << 4 << false;
        QTest::newRow("number text") << QByteArray("ClientNumber3") << 3 << false;
        QTest::newRow("newcomer text") << QByteArray("NewUser") << 3 << false;
    }
    void ownPackets()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, number);
        QFETCH(bool, own);
        QCOMPARE(RelayRules::isOwnPacket(body, number, "Ann"), own);
    }

    void reservedNames()
    {
        for (QByteArrayView name : {"Quandrel", "quandrel", " QUANDREL ", "Quandrel] - x"})
            QVERIFY2(RelayRules::isReservedName(name), name.data());
        for (QByteArrayView name : {"Quandrels", "Quan drel", "Ann", "", "x] Quandrel"})
            QVERIFY2(!RelayRules::isReservedName(name), name.data());
    }

    void notices()
    {
        QCOMPARE(RelayRules::notice("Ann joined the stage"),
                 QByteArray("[Quandrel] - Ann joined the stage\r\n\0", 36));
    }

    void noticeNamesHideEveryControlByte()
    {
        QByteArray controls;
        for (int b = 0; b < 0x20; ++b)
            controls += char(b);
        // DEL and the C1 bytes Windows-1252 leaves undefined.
        for (int b : {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D})
            controls += char(b);
        for (char c : controls) {
            const QByteArray name = QByteArray("a") + c + "b";
            QCOMPARE(RelayRules::noticeName(name), QByteArray("a?b"));
        }
        // The other bytes are letters and signs in Windows-1252 and stay.
        QByteArray printable;
        for (int b = 0x20; b <= 0xFF; ++b) {
            if (!controls.contains(char(b)))
                printable += char(b);
        }
        for (qsizetype i = 0; i < printable.size(); i += 32) {
            const QByteArray part = printable.mid(i, 32);
            QCOMPARE(RelayRules::noticeName(part), part);
        }
    }

    void noticeNamesAreShortAndNeverEmpty()
    {
        QCOMPARE(RelayRules::noticeName(""), QByteArray("Someone without a name"));
        QCOMPARE(RelayRules::noticeName(QByteArray(64, 'n')), QByteArray(64, 'n'));
        QCOMPARE(RelayRules::noticeName(QByteArray(65, 'n')), QByteArray(64, 'n') + "...");
    }

    void addressGroups_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("IPv4 itself") << "192.0.2.7"
                                     << "192.0.2.7" << true;
        QTest::newRow("IPv4 neighbours") << "192.0.2.7"
                                         << "192.0.2.8" << false;
        QTest::newRow("IPv4-mapped") << "::ffff:192.0.2.7"
                                     << "192.0.2.7" << true;
        QTest::newRow("mapped neighbours") << "::ffff:192.0.2.7"
                                           << "192.0.2.8" << false;
        QTest::newRow("IPv6 one /64") << "2001:db8:1:2::1"
                                      << "2001:db8:1:2:ffff:ffff:ffff:ffff" << true;
        QTest::newRow("IPv6 next /64") << "2001:db8:1:2::1"
                                       << "2001:db8:1:3::1" << false;
        QTest::newRow("IPv6 first bit") << "2001:db8::1"
                                        << "a001:db8::1" << false;
    }
    void addressGroups()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(RelayRules::addressGroup(QHostAddress(a)) ==
                     RelayRules::addressGroup(QHostAddress(b)),
                 same);
    }

    void onlyThisMachineIsExempt()
    {
        for (const char *a : {"127.0.0.1", "::1", "::ffff:127.0.0.1"})
            QVERIFY2(RelayRules::isExemptAddress(QHostAddress(QString::fromLatin1(a))), a);
        for (const char *a : {"127.0.0.2", "192.0.2.1", "::2", "fe80::1", "0.0.0.0", "::"})
            QVERIFY2(!RelayRules::isExemptAddress(QHostAddress(QString::fromLatin1(a))), a);
    }
};

QTEST_APPLESS_MAIN(TestRelayRules)
#include "tst_relayrules.moc"
