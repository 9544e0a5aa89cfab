// SPDX-License-Identifier: MIT
#include "WaitingPoolFixture.h"

#include <QTest>
#include <map>
#include <random>
#include <set>
#include <vector>

// Crowds against the waiting places, simulated for a long while: whoever
// comes once still gets a place. Long simulations, not waits: a soak.
class TestWaitingCrowds : public QObject
{
    Q_OBJECT

    static constexpr int Capacity = WaitingPoolFixture::Capacity;
    using Pool = WaitingPoolFixture;

    // A crowd of `groups` addresses in one wide group, two places each,
    // reconnecting at once whenever one of theirs gives way; every so often
    // a newcomer from elsewhere arrives and, a while later, joins. Returns how
    // many of `newcomers` were still waiting when they joined.
    static int survivors(const QString &crowdPrefix, int groups, const QString &newcomerPrefix,
                         int newcomers)
    {
        Pool p;
        std::mt19937 random(7);
        std::vector<QString> crowd;
        for (int g = 0; g < groups; ++g)
            crowd.push_back(crowdPrefix.arg(g + 1));
        const auto crowdAddress = [&](int i) -> const QString & {
            return crowd[std::size_t(i % groups)];
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
};

QTEST_APPLESS_MAIN(TestWaitingCrowds)
#include "tst_waitingcrowds.moc"
