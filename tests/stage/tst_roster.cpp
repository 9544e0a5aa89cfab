// SPDX-License-Identifier: MIT
#include "stage/Roster.h"
#include "stage/StageRules.h"

#include <QTest>

// The avatar table and the walking limits.
class TestRoster : public QObject
{
    Q_OBJECT

private slots:
    void codesAreExact()
    {
        QCOMPARE(Roster::byCode(u"Nubo ")->displayName, QStringView(u"Nubo"));
        QCOMPARE(Roster::byCode(u"Jaxo ")->selection, QStringView(u"Jaxorin"));
        for (QStringView miss : {u"Nubo", u"Veck", u"Jaxo", u"gimbo", u"GIMBO", u"Jaxorin", u""})
            QVERIFY2(!Roster::byCode(miss), qPrintable(miss.toString()));
        for (const AvatarRow &row : Roster::rows())
            QCOMPARE(row.code.size(), 5);
        QCOMPARE(Roster::rows()[Roster::DefaultRow].code, QStringView(u"Gimbo"));
    }

    void spritesByFacing()
    {
        const AvatarRow *tavro = Roster::byCode(u"Tavro");
        QCOMPARE(tavro->sprite(false).name, QStringView(u"TavroLeft"));
        QCOMPARE(tavro->sprite(false).size, QSize(16, 27));
        QCOMPARE(tavro->sprite(true).name, QStringView(u"TavroRight"));
        QCOMPARE(tavro->sprite(true).size, QSize(15, 27));
    }

    void selectionImages()
    {
        QCOMPARE(Roster::bySelection(u"Jaxorin")->code, QStringView(u"Jaxo "));
        QCOMPARE(Roster::bySelection(u"Veck")->code, QStringView(u"Veck "));
        QVERIFY(!Roster::bySelection(u"Jaxo"));
    }

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

QTEST_APPLESS_MAIN(TestRoster)
#include "tst_roster.moc"
