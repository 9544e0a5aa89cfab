// SPDX-License-Identifier: MIT
#include "server/rules/HeldOutput.h"

#include <QTest>

namespace {

QByteArrayList takeAll(HeldOutput &held)
{
    QByteArrayList out;
    while (!held.isEmpty())
        out.append(held.takeFirst());
    return out;
}

} // namespace

// What waits for a client, one packet at a time, within its bound.
class TestHeldOutput : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheOrder()
    {
        HeldOutput held;
        held.add("[A] - 1\r\n");
        held.add("Action1StLeftGimboX1");
        held.add("NewUser");
        held.add("Action2StLeftGimboX2");
        QCOMPARE(takeAll(held), QByteArrayList({"[A] - 1\r\n", "Action1StLeftGimboX1", "NewUser",
                                                "Action2StLeftGimboX2"}));
        QCOMPARE(held.size(), 0);
        QCOMPARE(held.takeFirst(), QByteArray());
    }

    // Only the newest step of each sender still matters; a presence answer,
    // which places nothing at a client that does not read its x, never
    // supersedes a step.
    void theNewestStepOfEachSender_data()
    {
        QTest::addColumn<QByteArrayList>("in");
        QTest::addColumn<QByteArrayList>("out");
        const QByteArray a1 = "Action1GoLeftGimboX1800Y480Z", a2 = "Action1GoLeftGimboX1750Y480Z";
        const QByteArray p1 = "Action1StLeftGimboX1700", p2 = "Action1StRightGimboX1700";
        const QByteArray b1 = "Action2GoRightTavroX900Y480Z", line = "[A] - hi\r\n";
        QTest::newRow("steps") << QByteArrayList{a1, b1, line, a2} << QByteArrayList{b1, line, a2};
        QTest::newRow("a step supersedes an answer")
            << QByteArrayList{p1, a1} << QByteArrayList{a1};
        QTest::newRow("an answer keeps the step before it")
            << QByteArrayList{a1, p1, b1, p2} << QByteArrayList{a1, b1, p2};
        // Every sender's number, the first and the last digit too.
        const QByteArray z1 = "Action0GoLeftGimboX1800Y480Z", z2 = "Action0GoLeftGimboX1750Y480Z";
        const QByteArray n1 = "Action9GoLeftGimboX1800Y480Z", n2 = "Action9GoLeftGimboX1750Y480Z";
        QTest::newRow("client 0") << QByteArrayList{z1, line, z2} << QByteArrayList{line, z2};
        QTest::newRow("client 9") << QByteArrayList{n1, line, n2} << QByteArrayList{line, n2};
        QTest::newRow("lines all stay")
            << QByteArrayList{line, a1, line, line} << QByteArrayList{line, a1, line, line};
    }

    void theNewestStepOfEachSender()
    {
        QFETCH(QByteArrayList, in);
        QFETCH(QByteArrayList, out);
        HeldOutput held;
        for (const QByteArray &packet : in)
            held.add(packet);
        qsizetype bytes = 0;
        for (const QByteArray &packet : out)
            bytes += packet.size();
        QCOMPARE(held.size(), bytes);
        QCOMPARE(takeAll(held), out);
    }

    // Past the bound, lines give way and every sender's newest step stays:
    // a step is what places an avatar at all.
    void everyStepOutlastsTheLines()
    {
        HeldOutput held;
        QByteArrayList steps;
        for (int sender = 0; sender < 10; ++sender) {
            steps.append("Action" + QByteArray::number(sender) + "GoRightSorraX900Y480Z");
            held.add(steps.last());
        }
        for (int i = 0; i < 100; ++i)
            held.add("[A] - " + QByteArray::number(i) + QByteArray(1000, 'a') + "\r\n");
        QVERIFY(held.size() <= HeldOutput::MaxBytes);
        const QByteArrayList out = takeAll(held);
        QCOMPARE(out.first(10), steps);
        QVERIFY(out[10].startsWith("[A] - " + QByteArray::number(100 - (out.size() - 10))));
        QVERIFY(out.last().startsWith("[A] - 99"));
    }

    void theOldestLinesGoPastTheBound()
    {
        HeldOutput held;
        const QByteArray step = "Action1GoLeftGimboX1800Y480Z";
        held.add(step);
        for (int i = 0; i < 70; ++i)
            held.add("[A] - " + QByteArray::number(i) + QByteArray(1000, 'a') + "\r\n");
        for (int i = 0; i < 200; ++i)
            held.add(step);
        QVERIFY(held.size() <= HeldOutput::MaxBytes);
        const QByteArrayList out = takeAll(held);
        QCOMPARE(out.count(step), 1);
        QCOMPARE(out.last(), step);
        QVERIFY(out.first().startsWith("[A] - " + QByteArray::number(70 - out.size() + 1)));
    }
};

QTEST_APPLESS_MAIN(TestHeldOutput)
#include "tst_heldoutput.moc"
