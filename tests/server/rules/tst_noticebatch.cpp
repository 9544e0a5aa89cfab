// SPDX-License-Identifier: MIT
#include "server/rules/NoticeBatch.h"

#include <QTest>

// Join and leave notices of a crowd, merged, on a clock the test moves.
class TestNoticeBatch : public QObject
{
    Q_OBJECT

private slots:
    void oneAtATimeGoesOutAtOnce()
    {
        NoticeBatch joins("joined the stage");
        QCOMPARE(joins.add("Ann", 0), QByteArray("Ann joined the stage"));
        QCOMPARE(joins.dueMs(), -1);
        QCOMPARE(joins.add("Bob", 1000), QByteArray("Bob joined the stage"));
        QCOMPARE(joins.flush(), std::nullopt);
    }

    void aCrowdWithinASecondIsOneLine()
    {
        NoticeBatch joins("joined the stage");
        QCOMPARE(joins.add("Ann", 0), QByteArray("Ann joined the stage"));
        for (int i = 0; i < 5000; ++i)
            QCOMPARE(joins.add("x", 10 + i / 10), std::nullopt);
        QCOMPARE(joins.dueMs(), 1000);
        QCOMPARE(joins.flush(), QByteArray("5000 people joined the stage"));
        QCOMPARE(joins.dueMs(), -1);
        QCOMPARE(joins.add("Cy", 1001), QByteArray("Cy joined the stage"));
    }

    void oneWaitingKeepsItsName()
    {
        NoticeBatch leaves("left the stage");
        leaves.add("Ann", 0);
        QCOMPARE(leaves.add("Bob", 999), std::nullopt);
        QCOMPARE(leaves.singleWaiting(), QByteArray("Bob"));
        QCOMPARE(leaves.flush(), QByteArray("Bob left the stage"));
        QCOMPARE(leaves.singleWaiting(), std::nullopt);
    }

    void aLateFlushStillSaysEveryone()
    {
        NoticeBatch joins("joined the stage");
        joins.add("Ann", 0);
        joins.add("Bob", 500);
        QCOMPARE(joins.add("Cy", 1500), std::nullopt); // the flush has not come yet
        QCOMPARE(joins.flush(), QByteArray("2 people joined the stage"));
    }
};

QTEST_APPLESS_MAIN(TestNoticeBatch)
#include "tst_noticebatch.moc"
