// SPDX-License-Identifier: MIT
#include "chat/IgnoreList.h"

#include <QTest>

// What any crowd of speakers can make the list keep; the rules themselves
// run as shared session cases on both clients.
class TestIgnoreList : public QObject
{
    Q_OBJECT

private slots:
    void aCrowdOfSpeakersIsHeardWithinABound()
    {
        IgnoreList list;
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(list.take(QStringLiteral("[Speaker %1] - hi").arg(i)),
                     IgnoreList::Line::Shown);
        QCOMPARE(list.heard().size(), IgnoreList::MaxHeard);
        QCOMPARE(list.heard().back(), QStringLiteral("Speaker 999"));
        // The stage's own notices are nobody to ignore.
        list.take(u"[Quandrel] - Speaker 1 joined the stage");
        QCOMPARE(list.heard().back(), QStringLiteral("Speaker 999"));
    }

    void theListIsBounded()
    {
        IgnoreList list;
        for (int i = 0; i < 100; ++i)
            list.ignoreName(QStringLiteral("Pest %1").arg(i));
        QCOMPARE(list.entries().size(), IgnoreList::MaxEntries);
        QVERIFY(!list.ignoreNumber(3));
        QVERIFY(!list.ignoreName(QString())); // a line without a name is nobody's
    }

    void onlyALineInTheSpeakersShapeHasASpeaker_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("speaker"); // "-": none
        QTest::newRow("a line") << "[Gimbo 2] - hi"
                                << "Gimbo 2";
        QTest::newRow("brackets later") << "[Ann] - see [1] - x"
                                        << "Ann";
        QTest::newRow("no name") << "[] - hi"
                                 << "-";
        QTest::newRow("not a line") << "Gimbo - hi"
                                    << "-";
        QTest::newRow("no separator") << "[Ann]-hi"
                                      << "-";
    }
    void onlyALineInTheSpeakersShapeHasASpeaker()
    {
        QFETCH(QString, line);
        QFETCH(QString, speaker);
        QCOMPARE(IgnoreList::speakerOf(line).value_or(QStringLiteral("-")), speaker);
    }
};

QTEST_APPLESS_MAIN(TestIgnoreList)
#include "tst_ignorelist.moc"
