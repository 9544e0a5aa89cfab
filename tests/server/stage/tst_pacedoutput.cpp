// SPDX-License-Identifier: MIT
#include "server/stage/PacedOutput.h"

#include <QElapsedTimer>
#include <QTest>

// One packet a write, some of them alone, and never paced for good.
class TestPacedOutput : public QObject
{
    Q_OBJECT

    struct Written
    {
        qint64 atNs;
        QByteArray packet;
    };
    QList<Written> written;
    QElapsedTimer clock;

    void watch(PacedOutput &output)
    {
        written.clear();
        clock.start();
        output.setWrite([this](const QByteArray &packet) {
            written.append({clock.nsecsElapsed(), packet});
        });
    }

    static QByteArray step(int sender, int x)
    {
        return "Action" + QByteArray::number(sender) + "GoLeftGimboX" + QByteArray::number(x) +
               "Y480Z";
    }

private slots:
    void aNumberAloneThenThePacedRelease()
    {
        PacedOutput output;
        watch(output);
        output.sendAlone("ClientNumber3", 30);
        for (int x = 100; x < 110; ++x)
            output.send(step(1, x)); // only the newest still matters
        output.send("[A] - hi\r\n");
        output.send(step(2, 5));
        QCOMPARE(written.size(), 1);
        QTRY_COMPARE(written.size(), 4);
        QCOMPARE(written[1].packet, step(1, 109));
        QCOMPARE(written[2].packet, QByteArray("[A] - hi\r\n"));
        QCOMPARE(written[3].packet, step(2, 5));
        QVERIFY(written[1].atNs - written[0].atNs >= 30'000'000);
        for (int i = 2; i < 4; ++i)
            QVERIFY(written[i].atNs - written[i - 1].atNs >= PacedOutput::GapMs * 1'000'000);
        // Once all is out, nothing waits.
        QTest::qWait(2 * PacedOutput::GapMs);
        output.send("[A] - now\r\n");
        QCOMPARE(written.size(), 5);
    }

    // A stage busier than the pace: a few go paced, then the rest at once,
    // every line among them.
    void aReleaseEndsAfterAFewPackets()
    {
        PacedOutput output;
        watch(output);
        output.sendThenGap("NewUser");
        for (int i = 0; i < PacedOutput::MaxPacedAfterGap + 5; ++i)
            output.send("[A] - " + QByteArray::number(i) + "\r\n");
        QTRY_COMPARE(written.size(), PacedOutput::MaxPacedAfterGap + 6);
        QCOMPARE(written.last().packet,
                 "[A] - " + QByteArray::number(PacedOutput::MaxPacedAfterGap + 4) + "\r\n");
        // The last few in one go, not 2 ms apart.
        const qsizetype paced = PacedOutput::MaxPacedAfterGap + 1;
        QVERIFY(written.last().atNs - written[paced].atNs < PacedOutput::GapMs * 1'000'000);
        output.send("[A] - after\r\n");
        QCOMPARE(written.last().packet, QByteArray("[A] - after\r\n"));
    }

    // The pieces of a long line and a notice followed by a step: each reaches
    // the client in a read of its own, even past a release's few paced
    // packets, and also while the output is paced for a newcomer; yet a
    // release still ends within its bound.
    void packetsThatMustBeSeenApart()
    {
        PacedOutput output;
        watch(output);
        const int pieces = PacedOutput::MaxPacedAfterGap + 4;
        for (int i = 0; i < pieces; ++i)
            output.sendThenGap("[A] - piece " + QByteArray::number(i) + "\r\n");
        output.send(step(4, -999));
        QTRY_COMPARE(written.size(), pieces + 1);
        QCOMPARE(written.last().packet, step(4, -999));
        for (int i = 1; i < written.size(); ++i)
            QVERIFY2(written[i].atNs - written[i - 1].atNs >= PacedOutput::GapMs * 1'000'000,
                     written[i].packet.constData());

        output.sendAlone("NewUser", 5);
        output.sendThenGap("[Quandrel] - Ann left the stage\r\n");
        output.send(step(1, -999));
        QTRY_COMPARE(written.size(), pieces + 4);
        QVERIFY(written.last().atNs - written[written.size() - 2].atNs >=
                PacedOutput::GapMs * 1'000'000);

        written.clear();
        for (int i = 0; i < 2 * PacedOutput::MaxPaced; ++i)
            output.sendThenGap("[A] - flood\r\n");
        QTRY_COMPARE(written.size(), 2 * PacedOutput::MaxPaced);
        QVERIFY(written.last().atNs - written[PacedOutput::MaxPaced + 1].atNs <
                PacedOutput::GapMs * 1'000'000);
    }

    void nothingAfterItStops()
    {
        PacedOutput output;
        watch(output);
        output.sendAlone("ClientNumber0", 5);
        output.send("[A] - held\r\n");
        output.stop();
        output.send("[A] - late\r\n");
        QTest::qWait(20);
        QCOMPARE(written.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPacedOutput)
#include "tst_pacedoutput.moc"
