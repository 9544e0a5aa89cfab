// SPDX-License-Identifier: MIT
#include "server/rules/HeldOutput.h"

#include <QTest>

// What waits for a newcomer, within its bound.
class TestHeldOutput : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheOrder()
    {
        HeldOutput held;
        held.add("[A] - 1\r\n");
        held.add("Action1StLeftGimboX1\0");
        held.add("NewUser");
        held.add("Action2StLeftGimboX2");
        QCOMPARE(held.take(),
                 QByteArray("[A] - 1\r\nAction1StLeftGimboX1NewUserAction2StLeftGimboX2"));
        QCOMPARE(held.size(), 0);
        QCOMPARE(held.take(), QByteArray());
    }

    void stepsGoFirstThenTheOldestLines()
    {
        HeldOutput held;
        const QByteArray line = "[A] - " + QByteArray(1000, 'a') + "\r\n";
        const QByteArray step = "Action1GoLeftGimboX1800Y480Z";
        held.add(line);
        for (int i = 0; i < 200; ++i)
            held.add(step);
        for (int i = 0; i < 70; ++i)
            held.add(line); // past the bound: every step goes, then the oldest line
        QVERIFY(held.size() <= HeldOutput::MaxBytes);
        const QByteArray out = held.take();
        QVERIFY(!out.contains("Action"));
        QCOMPARE(out.size(), (HeldOutput::MaxBytes / line.size()) * line.size());
    }
};

QTEST_APPLESS_MAIN(TestHeldOutput)
#include "tst_heldoutput.moc"
