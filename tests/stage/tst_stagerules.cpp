// SPDX-License-Identifier: MIT
#include "stage/StageRules.h"

#include <QTest>

// Which image a client number names, and the walking limits.
class TestStageRules : public QObject
{
    Q_OBJECT

private slots:
    void imageIndex()
    {
        QCOMPARE(StageRules::imageIndex(u"0"), std::optional<int>(0));
        QCOMPARE(StageRules::imageIndex(u"20"), std::optional<int>(20));
        QCOMPARE(StageRules::imageIndex(u" 3 "), std::optional<int>(3));
        for (QStringView bad : {u"21", u"99", u"", u"-1", u"3x", u"x", u"1234567890123", u"\u0663"})
            QVERIFY2(!StageRules::imageIndex(bad), qPrintable(bad.toString()));
    }

    void limitsAreTestedBeforeTheStep()
    {
        QVERIFY(!StageRules::mayStep(Direction::Left, 50));
        QVERIFY(!StageRules::mayStep(Direction::Left, 99.5f));
        QVERIFY(StageRules::mayStep(Direction::Left, 100));
        QCOMPARE(StageRules::stepped(Direction::Left, 100), 50.0f);
        QVERIFY(StageRules::mayStep(Direction::Right, 2100));
        QCOMPARE(StageRules::stepped(Direction::Right, 2100), 2150.0f);
        QVERIFY(!StageRules::mayStep(Direction::Right, 2150));
        QVERIFY(!StageRules::mayStep(Direction::Right, 2100.5f));
    }
};

QTEST_APPLESS_MAIN(TestStageRules)
#include "tst_stagerules.moc"
