// SPDX-License-Identifier: MIT
#include "server/carriers/PeerAddress.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/WaitingPool.h"

#include <QTest>
#include <random>

// Who gives way when the waiting places are full.
class TestWaitingPool : public QObject
{
    Q_OBJECT

    static constexpr int Capacity = 32;

    struct Pool
    {
        WaitingPool pool{Capacity};
        AddressGroups groups{ServerSettings{}, [] {
                                 return qint64(0);
                             }};
        quint64 next = 0;
        std::map<quint64, QString> who; // id to address

        std::map<QString, std::pair<QString, QString>> keys; // address to wide and group

        // A newcomer from `address`: its id, or nothing when turned away;
        // whoever gave way is gone from `who`.
        std::optional<quint64> arrive(const QString &address)
        {
            auto known = keys.find(address);
            if (known == keys.end()) {
                const IpAddress ip = PeerAddress::from(QHostAddress(address));
                known =
                    keys.emplace(address, std::pair(groups.wideKeyOf(ip), groups.keyOf(ip))).first;
            }
            const auto &[wide, group] = known->second;
            if (pool.isFull()) {
                const auto victim = pool.victimFor(wide, group);
                if (!victim)
                    return std::nullopt;
                pool.remove(*victim);
                who.erase(*victim);
            }
            pool.add(++next, wide, group);
            who[next] = address;
            return next;
        }
        int held(const QString &address) const
        {
            return int(std::count_if(who.begin(), who.end(),
                                     [&](const auto &e) { return e.second == address; }));
        }
    };

    // A crowd of `groups` addresses in one wide group, two places each,
    // reconnecting at once whenever one of theirs gives way; every so often
    // a newcomer from elsewhere arrives and, a while later, joins. Returns how
    // many of `newcomers` were still waiting when they joined.
    static int survivors(const QString &crowdPrefix, int groups, const QString &newcomerPrefix,
                         int newcomers)
    {
        Pool p;
        std::mt19937 random(7);
        const auto crowdAddress = [&](int i) {
            return crowdPrefix.arg(i % groups + 1);
        };
        for (int i = 0; i < 2 * groups && !p.pool.isFull(); ++i)
            p.arrive(crowdAddress(i));
        int joined = 0;
        for (int n = 0; n < newcomers; ++n) {
            const auto newcomer = p.arrive(newcomerPrefix.arg(n % 250 + 2));
            // Meanwhile the crowd reconnects a hundred times.
            for (int i = 0; i < 100; ++i) {
                const int g = int(random() % groups);
                if (p.held(crowdAddress(g)) < 2)
                    p.arrive(crowdAddress(g));
            }
            if (newcomer && p.who.count(*newcomer)) {
                ++joined;
                p.pool.remove(*newcomer);
                p.who.erase(*newcomer);
            }
        }
        return joined;
    }

private slots:
    void aChurningCrowdTakesPlacesOnlyFromItself_data()
    {
        QTest::addColumn<QString>("crowd");
        QTest::addColumn<int>("groups");
        QTest::addColumn<QString>("newcomers");
        QTest::newRow("16 IPv4 addresses of one /24") << "192.0.2.%1" << 16 << "198.51.100.%1";
        QTest::newRow("40 IPv4 addresses of one /24") << "192.0.2.%1" << 40 << "198.51.100.%1";
        QTest::newRow("200 IPv4 addresses of one /24") << "192.0.2.%1" << 200 << "198.51.100.%1";
        QTest::newRow("200 /64s of one IPv6 /48") << "2001:db8:1:%1::7" << 200 << "2001:db8:%1::9";
    }
    void aChurningCrowdTakesPlacesOnlyFromItself()
    {
        QFETCH(QString, crowd);
        QFETCH(int, groups);
        QFETCH(QString, newcomers);
        QCOMPARE(survivors(crowd, groups, newcomers, 100), 100);
    }

    void theBiggestGroupGivesWay()
    {
        Pool p;
        for (int i = 0; i < Capacity - 2; ++i)
            p.arrive(QStringLiteral("192.0.2.%1").arg(i / 2 + 1)); // 15 addresses, two each
        p.arrive(QStringLiteral("198.51.100.1"));
        p.arrive(QStringLiteral("203.0.113.1"));
        QVERIFY(p.pool.isFull());
        // A third /24 takes the place of the oldest of the biggest.
        QVERIFY(p.arrive(QStringLiteral("203.0.114.1")));
        QCOMPARE(p.held(QStringLiteral("192.0.2.1")), 1);
        QCOMPARE(p.held(QStringLiteral("198.51.100.1")), 1);
        // The crowd's own newcomers take places from the crowd alone.
        for (int i = 0; i < 100; ++i)
            QVERIFY(p.arrive(QStringLiteral("192.0.2.%1").arg(i % 15 + 1)));
        for (const char *alone : {"198.51.100.1", "203.0.113.1", "203.0.114.1"})
            QCOMPARE(p.held(QLatin1String(alone)), 1);
    }

    void aNewcomerTakesNoPlaceFromItsEquals()
    {
        Pool p;
        for (int i = 0; i < Capacity; ++i)
            p.arrive(QStringLiteral("10.0.%1.1").arg(i)); // 32 /24s, one each
        QVERIFY(!p.arrive(QStringLiteral("10.1.0.1")));   // a 33rd: nobody holds more
        QVERIFY(p.arrive(QStringLiteral("10.0.0.1")));    // one of them: its own oldest goes
        QCOMPARE(p.pool.size(), Capacity);
    }

    // The counts follow every place given and taken back: a group that has
    // left, or moved, holds nothing more, however many times it came.
    void countsFollowEveryChange()
    {
        WaitingPool pool(3);
        const QString a = QStringLiteral("a"), b = QStringLiteral("b"), c = QStringLiteral("c");
        pool.add(1, a, a);
        pool.add(1, b, b); // the same place again, now another group's
        pool.add(2, b, b);
        pool.add(3, c, c);
        QCOMPARE(pool.size(), 3);
        // b holds two: its oldest gives way to anyone else, a holds nothing.
        QCOMPARE(pool.victimFor(a, a), std::optional<quint64>(1));
        pool.remove(1);
        pool.remove(1); // gone already: nothing changes
        pool.add(4, a, a);
        // Now each holds one: nobody new takes a place, and within a group
        // its own oldest gives way.
        QCOMPARE(pool.victimFor(QStringLiteral("d"), QStringLiteral("d")), std::nullopt);
        QCOMPARE(pool.victimFor(c, c), std::optional<quint64>(3));
        for (quint64 id : {2, 3, 4})
            pool.remove(id);
        QCOMPARE(pool.size(), 0);
        pool.setCapacity(1);
        pool.add(5, c, c);
        QCOMPARE(pool.victimFor(b, b), std::nullopt);
    }

    void roomMeansNoVictim()
    {
        Pool p;
        p.arrive(QStringLiteral("192.0.2.1"));
        QCOMPARE(p.pool.victimFor(QStringLiteral("x"), QStringLiteral("y")), std::nullopt);
        QCOMPARE(p.pool.size(), 1);
    }
};

QTEST_APPLESS_MAIN(TestWaitingPool)
#include "tst_waitingpool.moc"
