// SPDX-License-Identifier: MIT
#include "server/carriers/PeerAddress.h"
#include "server/operator/BanFile.h"

#include <QTest>

// What the ban file says, line by line.
class TestBanFile : public QObject
{
    Q_OBJECT

    static const QByteArray file;
    const LookAlike look;

private slots:
    void addresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("banned");
        QTest::newRow("one IPv4 address") << "203.0.113.7" << true;
        QTest::newRow("its neighbour") << "203.0.113.8" << false;
        QTest::newRow("in the /24") << "198.51.100.200" << true;
        QTest::newRow("next to the /24") << "198.51.101.1" << false;
        QTest::newRow("mapped into IPv6") << "::ffff:203.0.113.7" << true;
        QTest::newRow("mapped, in the /24") << "::ffff:198.51.100.1" << true;
        QTest::newRow("in the IPv6 /48") << "2001:db8:0:ffff::1" << true;
        QTest::newRow("next to the /48") << "2001:db8:1::1" << false;
        QTest::newRow("one IPv6 address") << "2001:db8:aa::5" << true;
        QTest::newRow("loopback") << "127.0.0.1" << false;
        QTest::newRow("a line after a bad one") << "192.0.2.99" << true;
    }
    void addresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, banned);
        QCOMPARE(BanFile::parse(file, look).bansAddress(PeerAddress::from(QHostAddress(address))),
                 banned);
    }

    void namesInTheirLookAlikeForm()
    {
        const BanList bans = BanFile::parse(file, look);
        for (const QByteArray name : {"Troll", "tr0ll", "T r o l l", "TROLL", "Tro|l"})
            QVERIFY2(bans.bansName(look.of(name)), name);
        QVERIFY(bans.bansName(look.of("Zoe"))); // written in UTF-8 as "Zoë"
        QVERIFY(!bans.bansName(look.of("Trolley")));
        QVERIFY(!bans.bansName(look.of("")));
    }

    void badLinesAreToldOfAndSkipped()
    {
        QList<BanFile::Problem> problems;
        const BanList bans = BanFile::parse(file, look, &problems);
        QCOMPARE(problems.size(), 3);
        QCOMPARE(problems[0].line, 8);
        QVERIFY(problems[0].why.contains(u"not an address, a prefix or name:NAME"));
        QCOMPARE(problems[1].line, 9);
        QVERIFY(problems[1].why.contains(u"not an address prefix"));
        QCOMPARE(problems[2].line, 10);
        QCOMPARE(bans.size(), 7);
    }

    // A prefix written in IPv4-mapped IPv6 bans the IPv4 addresses in it, as
    // they come on either kind of listener.
    void mappedPrefixes()
    {
        const BanList bans = BanFile::parse("::ffff:127.0.8.0/120\n::ffff:192.0.2.9\n", look);
        for (const char *banned : {"127.0.8.0", "127.0.8.255", "::ffff:127.0.8.5", "192.0.2.9"})
            QVERIFY2(bans.bansAddress(PeerAddress::from(QHostAddress(QLatin1String(banned)))),
                     banned);
        for (const char *free : {"127.0.9.1", "127.0.7.255", "192.0.2.8", "::127.0.8.5"})
            QVERIFY2(!bans.bansAddress(PeerAddress::from(QHostAddress(QLatin1String(free)))), free);
    }

    // Many entries of every prefix length: each bans what it covers, nothing else.
    void everyPrefixLength()
    {
        QByteArray text;
        for (int bits = 8; bits <= 32; ++bits)
            text += QByteArray::number(bits) + ".128.64.1/" + QByteArray::number(bits) + '\n';
        for (int i = 0; i < 20000; ++i)
            text += "2001:db8:" + QByteArray::number(i, 16) + "::/48\n";
        const BanList bans = BanFile::parse(text, look);
        QCOMPARE(bans.size(), 25 + 20000);
        const auto banned = [&](const char *a) {
            return bans.bansAddress(PeerAddress::from(QHostAddress(QLatin1String(a))));
        };
        QVERIFY(banned("32.128.64.1"));
        QVERIFY(!banned("32.128.64.2"));
        QVERIFY(banned("24.128.64.255"));
        QVERIFY(!banned("24.128.65.0"));
        QVERIFY(banned("8.1.2.3"));
        QVERIFY(!banned("7.128.64.1"));
        QVERIFY(bans.bansAddress(
            PeerAddress::from(QHostAddress(QStringLiteral("2001:db8:4e1f:ffff::1")))));
        QVERIFY(
            !bans.bansAddress(PeerAddress::from(QHostAddress(QStringLiteral("2001:db8:4e20::1")))));
    }

    void emptyAndCommentsOnly()
    {
        QList<BanFile::Problem> problems;
        QCOMPARE(BanFile::parse("# nobody\n\n   \n# at all", look, &problems).size(), 0);
        QVERIFY(problems.isEmpty());
        QVERIFY(!BanFile::parse("", look).bansAddress(
            PeerAddress::from(QHostAddress(QStringLiteral("192.0.2.1")))));
    }
};

const QByteArray TestBanFile::file = "# who may not be on the stage\n"
                                     "203.0.113.7\n"
                                     "198.51.100.0/24   # a whole network\n"
                                     "2001:db8::/48\n"
                                     "  2001:db8:aa::5\n"
                                     "name:Troll\n"
                                     "NAME: Zo\xc3\xab\n"
                                     "not-an-address\n"
                                     "10.0.0.0/40\n"
                                     "name:\n"
                                     "192.0.2.99\n";

QTEST_GUILESS_MAIN(TestBanFile)
#include "tst_banfile.moc"
