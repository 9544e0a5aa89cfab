// SPDX-License-Identifier: MIT
#include "server/rules/TokenBucket.h"

#include <QTest>

// The packet budget on a clock the test moves by hand.
class TestTokenBucket : public QObject
{
    Q_OBJECT

    static constexpr qint64 Second = 1'000'000'000;

    static int takeAll(TokenBucket &bucket, qint64 now)
    {
        int taken = 0;
        while (bucket.tryTake(now) && taken < 1'000'000)
            ++taken;
        return taken;
    }

private slots:
    void aBurstThenTheRate()
    {
        TokenBucket bucket(50, 100, 0);
        QCOMPARE(takeAll(bucket, 0), 100);
        QCOMPARE(bucket.nsUntil(0), Second / 50);
        QCOMPARE(takeAll(bucket, Second / 50 - 1), 0);
        QCOMPARE(takeAll(bucket, Second / 50), 1);
        QCOMPARE(takeAll(bucket, Second / 50 + Second), 50);
    }

    void idlingSavesNoMoreThanTheBurst()
    {
        TokenBucket bucket(50, 100, 0);
        QCOMPARE(takeAll(bucket, 0), 100);
        QCOMPARE(takeAll(bucket, 3600 * Second), 100);
        QCOMPARE(bucket.nsUntil(3600 * Second), Second / 50);
    }

    void refillTiming()
    {
        TokenBucket bucket(4, 1, 0);
        QVERIFY(bucket.tryTake(0));
        QCOMPARE(bucket.nsUntil(0), Second / 4);
        QCOMPARE(bucket.nsUntil(Second / 8), Second / 8);
        QCOMPARE(bucket.nsUntil(Second / 4), 0);
        // A clock that goes back gives nothing and takes nothing.
        QCOMPARE(bucket.nsUntil(-Second), Second / 4);
    }

    void rateZeroNeverRunsOut()
    {
        TokenBucket bucket(0, 1, 0);
        for (int i = 0; i < 10'000; ++i)
            QVERIFY(bucket.tryTake(0));
        QCOMPARE(bucket.nsUntil(0), 0);
    }

    void amountsAndDebt()
    {
        TokenBucket bytes(1000, 4000, 0);
        QVERIFY(bytes.tryTake(0, 3000));
        QVERIFY(!bytes.tryTake(0, 2000));
        QCOMPARE(bytes.nsUntil(0, 2000), Second);
        // More than the burst passes once the bucket is full, and is owed.
        TokenBucket small(1000, 100, 0);
        QVERIFY(small.tryTake(0, 500));
        QVERIFY(!small.tryTake(Second / 10, 1));
        QCOMPARE(small.nsUntil(0, 1), Second * 401 / 1000);
    }

    void aBurstBelowOneStillLetsOneThrough()
    {
        TokenBucket bucket(10, 0, 0);
        QCOMPARE(takeAll(bucket, 0), 1);
    }
};

QTEST_APPLESS_MAIN(TestTokenBucket)
#include "tst_tokenbucket.moc"
