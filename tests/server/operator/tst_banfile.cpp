// SPDX-License-Identifier: MIT
#include "server/carriers/PeerAddress.h"
#include "server/operator/BanFile.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
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

    // A ban with an expiry applies until then, and says when the next ends.
    void bansForAWhile()
    {
        const QByteArray text = "203.0.113.7 until=2026-12-24T18:00:00Z  # a week\n"
                                "203.0.113.8 until=2026-12-01T00:00:00Z\n"
                                "name:Big Troll until=2026-12-25T00:00:00Z\n"
                                "203.0.113.9 until=tomorrow\n";
        const qint64 now =
            QDateTime::fromString("2026-12-10T12:00:00Z", Qt::ISODate).toSecsSinceEpoch();
        QList<BanFile::Problem> problems;
        std::optional<qint64> next;
        const BanList bans = BanFile::parse(text, look, &problems, now, &next);
        const auto banned = [&](const char *a) {
            return bans.bansAddress(PeerAddress::from(QHostAddress(QLatin1String(a))));
        };
        QVERIFY(banned("203.0.113.7"));
        QVERIFY(!banned("203.0.113.8")); // expired
        QVERIFY(!banned("203.0.113.9")); // unreadable, and told
        QVERIFY(bans.bansName(look.of("Big Troll")));
        QCOMPARE(problems.size(), 1);
        QCOMPARE(problems.front().line, 4);
        QCOMPARE(next,
                 QDateTime::fromString("2026-12-24T18:00:00Z", Qt::ISODate).toSecsSinceEpoch());
        QCOMPARE(BanFile::inForce(text, now),
                 (QStringList{"203.0.113.7 until 2026-12-24T18:00:00Z",
                              "name:Big Troll until 2026-12-25T00:00:00Z"}));
    }

    // The operator's commands change their own lines and keep every other.
    void addingAndRemovingKeepsTheRest()
    {
        const qint64 now = 2'000'000'000;
        const QByteArray text = "# my list\n10.0.0.1   # the first\nname:Troll\n"
                                "10.0.0.3 until=2001-01-01T00:00:00Z\n";
        const QByteArray added =
            BanFile::withBan(text, "192.0.2.5", now + 3600, "by the operator: flood", now);
        QCOMPARE(added,
                 QByteArray("# my list\n10.0.0.1   # the first\nname:Troll\n"
                            "192.0.2.5 until=2033-05-18T04:33:20Z  # by the operator: flood\n"));
        int removed = 0;
        QCOMPARE(BanFile::withoutBan(added, "name:TROLL", now, &removed),
                 QByteArray("# my list\n10.0.0.1   # the first\n"
                            "192.0.2.5 until=2033-05-18T04:33:20Z  # by the operator: flood\n"));
        QCOMPARE(removed, 1);
        QCOMPARE(BanFile::withoutBan(added, "10.0.0.9", now, &removed), added);
        QCOMPARE(removed, 0);
        // A comment cannot start a line of its own.
        QVERIFY(BanFile::withBan("", "10.0.0.2", {}, "a\nname:Everyone", now)
                    .startsWith("10.0.0.2  # a name:Everyone\n"));
    }

    void entries_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("entry"); // empty: none
        QTest::newRow("address") << "203.0.113.7"
                                 << "203.0.113.7";
        QTest::newRow("IPv6, written short") << "2001:0db8::0001"
                                             << "2001:db8::1";
        QTest::newRow("prefix") << "198.51.100.0/24"
                                << "198.51.100.0/24";
        QTest::newRow("name") << "name:Troll"
                              << "name:Troll";
        QTest::newRow("bare word") << "Troll"
                                   << "name:Troll";
        QTest::newRow("not an address") << "300.1.2.3"
                                        << "";
        QTest::newRow("bad prefix") << "10.0.0.0/40"
                                    << "";
        QTest::newRow("empty name") << "name:"
                                    << "";
    }
    void entries()
    {
        QFETCH(QString, target);
        QFETCH(QString, entry);
        QCOMPARE(BanFile::entry(target).value_or(QString()), entry);
    }

    // Written whole beside the old file and renamed over it, in its mode.
    void writtenWholeInItsMode()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bans"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old\n");
        old.close();
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::WriteGroup);
        QString why;
        QVERIFY2(BanFile::writeAtomically(path, "new\n", &why), qPrintable(why));
        QCOMPARE(BanFile::readText(path, &why).value_or(QByteArray()), QByteArray("new\n"));
        QCOMPARE(QFile::permissions(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadUser | QFileDevice::WriteUser |
                                               QFileDevice::ReadGroup | QFileDevice::WriteGroup);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"bans"});
        QVERIFY(!BanFile::writeAtomically(dir.filePath(QStringLiteral("no/such/bans")), "x", &why));
        QVERIFY(!why.isEmpty());
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
