// SPDX-License-Identifier: MIT
#include "server/operator/OptionValues.h"

#include <QTest>

// Numbers on the command line.
class TestOptionValues : public QObject
{
    Q_OBJECT

private slots:
    void counts()
    {
        QCOMPARE(OptionValues::count(u"2579", 0, 65535), 2579);
        QCOMPARE(OptionValues::count(u"0", 0, 65535), 0);
        QCOMPARE(OptionValues::count(u"65535", 0, 65535), 65535);
        for (QStringView bad : {u"65536", u"-1", u"2579.9", u"2.5", u"nan", u"inf", u"", u" 1",
                                u"1 ", u"+1", u"1e3", u"0x10", u"99999999999999999999"})
            QVERIFY2(!OptionValues::count(bad, 0, 65535), qPrintable(bad.toString()));
    }

    void decimals()
    {
        QCOMPARE(OptionValues::decimal(u"10", 0, 100), 10.0);
        QCOMPARE(OptionValues::decimal(u"0.5", 0, 100), 0.5);
        QCOMPARE(OptionValues::decimal(u".5", 0, 100), 0.5);
        QCOMPARE(OptionValues::decimal(u"5.", 0, 100), 5.0);
        for (QStringView bad : {u"nan", u"NaN", u"inf", u"-inf", u"-1", u"1e3", u"", u".", u"1,5",
                                u"2 s", u"101", u"0x1"})
            QVERIFY2(!OptionValues::decimal(bad, 0, 100), qPrintable(bad.toString()));
    }
};

QTEST_APPLESS_MAIN(TestOptionValues)
#include "tst_optionvalues.moc"
