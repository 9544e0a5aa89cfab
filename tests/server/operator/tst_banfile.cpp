// SPDX-License-Identifier: MIT
#include "server/carriers/PeerAddress.h"
#include "server/operator/BanFile.h"
#include "server/rules/NameRules.h"

#include <QTest>

// What the ban file says, line by line.
class TestBanFile : public QObject
{
    Q_OBJECT

    static const QByteArray file;

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
        QCOMPARE(BanFile::parse(file).bansAddress(PeerAddress::from(QHostAddress(address))),
                 banned);
    }

    void namesInTheirLookAlikeForm()
    {
        const BanList bans = BanFile::parse(file);
        for (const QByteArray name : {"Troll", "tr0ll", "T r o l l", "TROLL", "Tro|l"})
            QVERIFY2(bans.bansName(NameRules::lookAlike(name)), name);
        QVERIFY(bans.bansName(NameRules::lookAlike("Zoe"))); // written in UTF-8 as "Zoë"
        QVERIFY(!bans.bansName(NameRules::lookAlike("Trolley")));
        QVERIFY(!bans.bansName(NameRules::lookAlike("")));
    }

    void badLinesAreToldOfAndSkipped()
    {
        QList<BanFile::Problem> problems;
        const BanList bans = BanFile::parse(file, &problems);
        QCOMPARE(problems.size(), 3);
        QCOMPARE(problems[0].line, 8);
        QVERIFY(problems[0].why.contains(u"not an address, a prefix or name:NAME"));
        QCOMPARE(problems[1].line, 9);
        QVERIFY(problems[1].why.contains(u"not an address prefix"));
        QCOMPARE(problems[2].line, 10);
        QCOMPARE(bans.size(), 7);
    }

    void emptyAndCommentsOnly()
    {
        QList<BanFile::Problem> problems;
        QCOMPARE(BanFile::parse("# nobody\n\n   \n# at all", &problems).size(), 0);
        QVERIFY(problems.isEmpty());
        QVERIFY(!BanFile::parse("").bansAddress(
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
