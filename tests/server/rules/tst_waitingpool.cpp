// SPDX-License-Identifier: MIT
#include "server/carriers/PeerAddress.h"
#include "server/rules/AddressGroups.h"
#include "server/rules/WaitingPool.h"

#include <QTest>
#include <map>
#include <random>
#include <set>
#include <vector>

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
        std::optional<quint64> arrive(const QString &address, qint64 nowMs = 0)
        {
            auto known = keys.find(address);
            if (known == keys.end()) {
                const IpAddress ip = PeerAddress::from(QHostAddress(address));
                known =
                    keys.emplace(address, std::pair(groups.wideKeyOf(ip), groups.keyOf(ip))).first;
            }
            const auto &[wide, group] = known->second;
            if (pool.isFull()) {
                const auto victim = pool.victimFor(wide, group, nowMs);
                if (!victim)
                    return std::nullopt;
                pool.remove(*victim);
                who.erase(*victim);
            }
            pool.add(++next, wide, group, nowMs);
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

    // A crowd of `addresses` addresses, each in a /24 of its own, that holds
    // two waiting places an address and renews them at the limit of its
    // connect budget (ten at once, ten a second); every 20 ms a newcomer
    // from a /24 of its own connects and joins one round trip later. Returns how
    // many of `newcomers` still held their place when they joined.
    static int joinedAgainstASpreadCrowd(int addresses, int newcomers, qint64 roundTripMs)
    {
        WaitingPool pool(Capacity);
        std::vector<double> tokens(addresses, 10.0);
        std::vector<qint64> refilled(addresses, 0);
        std::vector<int> held(addresses, 0);
        std::set<int> hungry; // holding fewer than two places
        for (int a = 0; a < addresses; ++a)
            hungry.insert(a);
        std::vector<QString> keys;
        for (int a = 0; a < addresses; ++a)
            keys.push_back(QStringLiteral("10.%1.%2").arg(a / 250).arg(a % 250));
        std::map<quint64, int> owner; // a place's address, -1 for a newcomer
        quint64 next = 0;
        const auto arrive = [&](int who, qint64 now) {
            const QString key =
                who < 0 ? QStringLiteral("newcomer %1").arg(next) : keys[std::size_t(who)];
            if (pool.isFull()) {
                const quint64 victim = *pool.victimFor(key, key, now);
                pool.remove(victim);
                if (const int lost = owner[victim]; lost >= 0) {
                    --held[std::size_t(lost)];
                    hungry.insert(lost);
                }
                owner.erase(victim);
            }
            pool.add(++next, key, key, now);
            owner[next] = who;
            if (who >= 0)
                ++held[std::size_t(who)];
            return next;
        };
        std::vector<std::pair<quint64, qint64>> pending; // a newcomer's place, when it joins
        int joined = 0;
        const qint64 end = qint64(newcomers) * 20 + roundTripMs + 1;
        for (qint64 now = 0; now < end; ++now) {
            // Places given way are taken back as fast as the budget lets.
            for (const int a : std::vector<int>(hungry.begin(), hungry.end())) {
                const auto i = std::size_t(a);
                tokens[i] = std::min(10.0, tokens[i] + 0.01 * double(now - refilled[i]));
                refilled[i] = now;
                while (tokens[i] >= 1 && held[i] < 2) {
                    tokens[i] -= 1;
                    arrive(a, now);
                }
                if (held[i] >= 2)
                    hungry.erase(a);
            }
            if (now % 20 == 0 && now / 20 < newcomers)
                pending.emplace_back(arrive(-1, now), now + roundTripMs);
            std::erase_if(pending, [&](const auto &newcomer) {
                if (newcomer.second > now)
                    return false;
                if (owner.count(newcomer.first)) {
                    ++joined;
                    pool.remove(newcomer.first);
                    owner.erase(newcomer.first);
                }
                return true;
            });
        }
        return joined;
    }

private slots:
    void aSpreadCrowdGivesWayToNewcomers_data()
    {
        QTest::addColumn<int>("addresses");
        QTest::newRow("40 /24s") << 40;
        QTest::newRow("200 /24s") << 200;
        QTest::newRow("1000 /24s") << 1000;
    }
    void aSpreadCrowdGivesWayToNewcomers()
    {
        QFETCH(int, addresses);
        const int joined = joinedAgainstASpreadCrowd(addresses, 100, 50);
        QVERIFY2(joined >= 99, QByteArray::number(joined));
    }

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

    // Among equals, the one that came most often of late gives way, and
    // between those the oldest: nobody is turned away from a full pool.
    void aNewcomerTakesAnEqualsPlace()
    {
        Pool p;
        for (int i = 0; i < Capacity; ++i)
            p.arrive(QStringLiteral("10.0.%1.1").arg(i), 0);             // 32 /24s, one each
        const auto newcomer = p.arrive(QStringLiteral("10.1.0.1"), 100); // a 33rd
        QVERIFY(newcomer);
        QCOMPARE(p.held(QStringLiteral("10.0.0.1")), 0); // the oldest gave way
        // One of them came back and again: it came most often, so it gives
        // way before any other, the newcomer too.
        p.arrive(QStringLiteral("10.0.0.1"), 200);
        QCOMPARE(p.held(QStringLiteral("10.0.1.1")), 0);
        p.arrive(QStringLiteral("10.0.1.1"), 300);
        QCOMPARE(p.held(QStringLiteral("10.0.0.1")), 0);
        QVERIFY(p.who.count(*newcomer));
        // Its own place it takes back from itself, not from others.
        p.arrive(QStringLiteral("10.0.1.1"), 400);
        QCOMPARE(p.held(QStringLiteral("10.0.1.1")), 1);
        QCOMPARE(p.pool.size(), Capacity);
        // Twenty seconds on, coming often no longer counts: the oldest goes.
        p.arrive(QStringLiteral("10.2.0.1"), 30'000);
        QCOMPARE(p.held(QStringLiteral("10.0.2.1")), 0);
    }

    // What is remembered of wide groups without a place stays bounded,
    // however many come and go.
    void arrivalsAreRememberedWithinABound()
    {
        WaitingPool pool(4);
        for (int i = 0; i < 3 * WaitingPool::MaxRemembered; ++i) {
            const QString wide = QString::number(i);
            pool.add(quint64(i), wide, wide, i);
            pool.remove(quint64(i));
        }
        QVERIFY(pool.remembered() <= WaitingPool::MaxRemembered);
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
        // Now each holds one: a newcomer takes the place of b, which came
        // most often, and within a group its own oldest gives way.
        QCOMPARE(pool.victimFor(QStringLiteral("d"), QStringLiteral("d")),
                 std::optional<quint64>(2));
        QCOMPARE(pool.victimFor(c, c), std::optional<quint64>(3));
        for (quint64 id : {2, 3, 4})
            pool.remove(id);
        QCOMPARE(pool.size(), 0);
        pool.setCapacity(1);
        pool.add(5, c, c);
        QCOMPARE(pool.victimFor(b, b), std::optional<quint64>(5));
        pool.setCapacity(2);
        QCOMPARE(pool.victimFor(b, b), std::nullopt); // room: nobody gives way
    }

    // Ties go against the newcomer's own, counting the newcomer: between
    // wide groups, and between address groups inside its own wide group.
    void aTieGoesAgainstTheNewcomersOwn()
    {
        WaitingPool pool(3);
        const QString w = QStringLiteral("w"), v = QStringLiteral("v");
        pool.add(1, v, QStringLiteral("v1"), 0);
        pool.add(2, v, QStringLiteral("v2"), 0);
        pool.add(3, w, QStringLiteral("w1"), 0);
        // Between wide groups: w with its newcomer holds two, as v does, and
        // came as often: w's own gives way.
        QCOMPARE(pool.victimFor(w, QStringLiteral("w1"), 0), std::optional<quint64>(3));
        // Another wide group, without a place, takes v's oldest.
        QCOMPARE(pool.victimFor(QStringLiteral("u"), QStringLiteral("u1"), 0),
                 std::optional<quint64>(1));

        // Inside one wide group: a holds one and its newcomer, b two. Even,
        // so the newcomer's own gives way, not b.
        WaitingPool one(3);
        const QString wide = QStringLiteral("x");
        one.add(1, wide, QStringLiteral("b"), 0);
        one.add(2, wide, QStringLiteral("b"), 0);
        one.add(3, wide, QStringLiteral("a"), 0);
        QCOMPARE(one.victimFor(wide, QStringLiteral("a"), 0), std::optional<quint64>(3));
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
