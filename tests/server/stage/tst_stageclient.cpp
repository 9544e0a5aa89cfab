// SPDX-License-Identifier: MIT
#include "server/stage/StageClient.h"

#include <QTest>

// Every move between a participant's phases: the allowed ones, and that no
// other is.
class TestStageClient : public QObject
{
    Q_OBJECT

    using Phase = StageClient::Phase;

private slots:
    void moves_data()
    {
        QTest::addColumn<Phase>("from");
        QTest::addColumn<Phase>("to");
        QTest::addColumn<bool>("allowed");
        const std::pair<Phase, const char *> phases[] = {
            {Phase::Waiting, "Waiting"},   {Phase::OnStage, "OnStage"}, {Phase::Leaving, "Leaving"},
            {Phase::Draining, "Draining"}, {Phase::Gone, "Gone"},
        };
        // Rows: from; columns: to, in the order above.
        const bool allowed[5][5] = {
            {false, true, true, true, true},    // Waiting: joins, or leaves in any way
            {false, false, true, true, true},   // OnStage: never back to waiting
            {false, false, false, false, true}, // Leaving: only gone
            {false, false, false, false, true}, // Draining: only gone
            {false, false, false, false, false} // Gone: the end
        };
        for (int f = 0; f < 5; ++f) {
            for (int t = 0; t < 5; ++t)
                QTest::addRow("%s to %s", phases[f].second, phases[t].second)
                    << phases[f].first << phases[t].first << allowed[f][t];
        }
    }
    void moves()
    {
        QFETCH(Phase, from);
        QFETCH(Phase, to);
        QFETCH(bool, allowed);
        QCOMPARE(StageClient::mayMove(from, to), allowed);
    }

    void onlyTheWaitingAndTheJoinedAreSentAnything()
    {
        StageClient client(nullptr, nullptr, QString(), 4096);
        QVERIFY(client.isListening());
        client.moveTo(Phase::OnStage);
        QVERIFY(client.isListening());
        client.moveTo(Phase::Draining);
        QVERIFY(!client.isListening());
        QVERIFY(!client.isGone());
        client.moveTo(Phase::Gone);
        QVERIFY(client.isGone());
    }
};

QTEST_GUILESS_MAIN(TestStageClient)
#include "tst_stageclient.moc"
