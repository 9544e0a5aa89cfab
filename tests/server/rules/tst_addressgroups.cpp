// SPDX-License-Identifier: MIT
#include "server/carriers/PeerAddress.h"
#include "server/rules/AddressGroups.h"

#include <QTest>

// Which addresses share budgets, how long a group is remembered, and what a
// group may spend.
class TestAddressGroups : public QObject
{
    Q_OBJECT

    static constexpr qint64 NsPerMs = 1'000'000;
    qint64 nowNs = 0;

    static IpAddress address(const char *text)
    {
        return PeerAddress::from(QHostAddress(QString::fromLatin1(text)));
    }
    AddressGroups registry(const ServerSettings &settings = {})
    {
        return AddressGroups(settings, [this] { return nowNs; });
    }
    void advanceMs(qint64 ms) { nowNs += ms * NsPerMs; }

private slots:
    void init() { nowNs = 1000 * NsPerMs; }

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
        QTest::newRow("link-local") << "fe80::1"
                                    << "fe80::2" << false;
        QTest::newRow("link-local itself") << "fe80::1"
                                           << "fe80::1" << true;
        QTest::newRow("the server's own LAN") << "2001:db8:aa:1::7"
                                              << "2001:db8:aa:1::8" << false;
        QTest::newRow("another LAN") << "2001:db8:aa:2::7"
                                     << "2001:db8:aa:2::8" << true;
    }
    void addressGroups()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        AddressGroups groups = registry();
        groups.setOwnAddresses({address("2001:db8:aa:1::1"), address("192.0.2.1")});
        const auto of = [&](const QString &text) {
            return groups.groupFor(PeerAddress::from(QHostAddress(text))).get();
        };
        QCOMPARE(groups.keyOf(PeerAddress::from(QHostAddress(a))) ==
                     groups.keyOf(PeerAddress::from(QHostAddress(b))),
                 same);
        QCOMPARE(of(a) == of(b), same);
    }

    void onlyThisMachineIsExempt()
    {
        AddressGroups groups = registry();
        for (const char *a : {"127.0.0.1", "::1", "::ffff:127.0.0.1"}) {
            QVERIFY2(address(a).isLocalHost(), a);
            QVERIFY2(groups.keyOf(address(a)).isEmpty(), a);
            // Each connection of its own: two never share a budget.
            QVERIFY(groups.groupFor(address(a)) != groups.groupFor(address(a)));
        }
        QCOMPARE(groups.size(), std::size_t(0));
        for (const char *a : {"127.0.0.2", "192.0.2.1", "::2", "fe80::1", "0.0.0.0", "::"}) {
            QVERIFY2(!address(a).isLocalHost(), a);
            QVERIFY2(!groups.keyOf(address(a)).isEmpty(), a);
            QCOMPARE(groups.groupFor(address(a)), groups.groupFor(address(a)));
        }
        QCOMPARE(groups.size(), std::size_t(5)); // "::2" and "::" share a /64
    }

    // A group is remembered for a minute after its last connection closed,
    // whatever the log does, and then starts afresh.
    void rememberedForAMinuteAfterItsLastConnection()
    {
        AddressGroups groups = registry();
        const IpAddress peer = address("192.0.2.7");
        const AddressGroup *first = groups.groupFor(peer).get();
        groups.opened(*groups.groupFor(peer), false);
        groups.opened(*groups.groupFor(peer), true);
        advanceMs(10 * AddressGroups::RememberMs); // open all this time
        QCOMPARE(groups.groupFor(peer).get(), first);
        groups.closed(*groups.groupFor(peer), false);
        advanceMs(AddressGroups::RememberMs); // the page connection is still open
        QCOMPARE(groups.groupFor(peer).get(), first);
        groups.closed(*groups.groupFor(peer), true);
        advanceMs(AddressGroups::RememberMs - 1);
        QCOMPARE(groups.groupFor(peer).get(), first);
        QCOMPARE(groups.find(peer), first);
        advanceMs(1);
        QCOMPARE(groups.find(peer), nullptr);
        QVERIFY(groups.groupFor(peer).get() != first);
    }

    void aRefusedConnectionCountsAsALastConnection()
    {
        AddressGroups groups = registry();
        const IpAddress peer = address("192.0.2.7");
        const auto first = groups.groupFor(peer);
        advanceMs(AddressGroups::RememberMs - 1);
        groups.refused(*first);
        advanceMs(AddressGroups::RememberMs - 1);
        QCOMPARE(groups.groupFor(peer), first);
        QCOMPARE(groups.takeRefusals().connections, 1);
        QCOMPARE(groups.takeRefusals().connections, 0);
    }

    // Unused groups are forgotten without anyone asking for them again, and
    // past the bound, those without a connection go early.
    void memoryIsBounded()
    {
        AddressGroups groups = registry();
        const IpAddress held = address("198.51.100.1");
        groups.opened(*groups.groupFor(held), false);
        const AddressGroup *heldGroup = groups.find(held);
        for (quint32 i = 0; i < AddressGroups::MaxRemembered + 10; ++i)
            groups.groupFor(IpAddress::fromV4(0xCB007100 + i));
        QVERIFY(groups.size() <= AddressGroups::MaxRemembered);
        QCOMPARE(groups.find(held), heldGroup);
        advanceMs(AddressGroups::RememberMs);
        groups.groupFor(address("192.0.2.1"));
        QCOMPARE(groups.size(), std::size_t(2));
        QCOMPARE(groups.find(held), heldGroup);
    }

    // A group handed out and still held, though no connection of it is
    // counted yet (a connection on its way in), is not forgotten under its
    // holder, whatever sweeps: the next connection of that address shares
    // its budgets.
    void aGroupStillHeldIsNotForgotten()
    {
        AddressGroups groups = registry();
        const IpAddress on = address("198.51.100.7");
        const std::shared_ptr<AddressGroup> held = groups.groupFor(on);
        for (quint32 i = 0; i < AddressGroups::MaxRemembered + 10; ++i)
            groups.groupFor(IpAddress::fromV4(0xCB007100 + i)); // sweeps early
        QCOMPARE(groups.groupFor(on), held);
        advanceMs(AddressGroups::RememberMs / 2);
        groups.groupFor(address("192.0.2.1")); // a sweep on time
        QCOMPARE(groups.groupFor(on), held);
    }

    void refusalsAreSummedByGroup()
    {
        AddressGroups groups = registry();
        for (int i = 0; i < 3; ++i)
            groups.refused(*groups.groupFor(address("192.0.2.7")));
        groups.refused(*groups.groupFor(address("192.0.2.8")));
        const AddressGroups::Refusals refusals = groups.takeRefusals();
        QCOMPARE(refusals.connections, 4);
        QCOMPARE(refusals.groups, 2);
        QCOMPARE(refusals.most, 3);
        QCOMPARE(refusals.busiest, QStringLiteral("192.0.2.7"));
    }

    // A group over its byte budget waits, and within it does not, whatever
    // its packet budget says.
    void bytesAreABudgetOfTheirOwn()
    {
        ServerSettings settings;
        settings.rate = 0; // packets without limit
        settings.byteRate = 1000;
        settings.byteBurst = 1000;
        AddressGroup group(settings, nowNs);
        QCOMPARE(group.spend(nowNs, 600, false), 0);
        const qint64 wait = group.spend(nowNs, 600, false);
        QVERIFY2(wait >= 199 * NsPerMs && wait <= 201 * NsPerMs, QByteArray::number(wait));
        QVERIFY(group.spend(nowNs + 150 * NsPerMs, 600, false) > 0);
        QCOMPARE(group.spend(nowNs + wait, 600, false), 0);
        settings.byteRate = 0;
        AddressGroup unlimited(settings, nowNs);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(unlimited.spend(nowNs, 4096, false), 0);
    }

    void packetsAndJoinsAreBudgetsToo()
    {
        ServerSettings settings;
        settings.rate = 10;
        settings.burst = 2;
        settings.joinRate = 1;
        settings.joinBurst = 1;
        AddressGroup group(settings, nowNs);
        QCOMPARE(group.spend(nowNs, 10, true), 0);
        QVERIFY(group.spend(nowNs, 10, true) > 0); // a second join waits a second
        QCOMPARE(group.spend(nowNs, 10, false), 0);
        QVERIFY(group.spend(nowNs, 10, false) > 0); // the burst of two is spent
        QCOMPARE(group.spend(nowNs + 101 * NsPerMs, 10, false), 0);
    }
};

QTEST_APPLESS_MAIN(TestAddressGroups)
#include "tst_addressgroups.moc"
