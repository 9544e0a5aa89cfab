// SPDX-License-Identifier: MIT
#include "stage/Roster.h"

#include <QTest>

// The avatar table.
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
};

QTEST_APPLESS_MAIN(TestRoster)
#include "tst_roster.moc"
