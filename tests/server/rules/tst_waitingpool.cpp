// SPDX-License-Identifier: MIT
#include "WaitingPoolFixture.h"
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

    static constexpr int Capacity = WaitingPoolFixture::Capacity;
    using Pool = WaitingPoolFixture;

private slots:
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
