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
        FakeLink link;
        StageClient client = makeClient(link);
        QVERIFY(client.isListening());
        client.join(3, "Gimbo", "Gimbo", "gimbo");
        QVERIFY(client.isListening());
        QCOMPARE(client.phase(), Phase::OnStage);
        link.open = false;
        QVERIFY(client.leave("disconnected", Link::Failure::Broken));
        QCOMPARE(client.phase(), Phase::Draining);
        QVERIFY(!client.isListening());
        QVERIFY(!client.isGone());
        client.send("Action1...");
        QCOMPARE(link.written, QByteArray());
        QVERIFY(!client.leave("again", Link::Failure::Broken)); // the first reason stands
        QCOMPARE(client.why(), "disconnected");
        client.end();
        QVERIFY(client.isGone());
    }

    void aClientStillOpenLeavesAtOnceAClosedOneDrains()
    {
        FakeLink link;
        StageClient open = makeClient(link);
        open.leave("not reading", Link::Failure::Misbehaved);
        QCOMPARE(open.phase(), Phase::Leaving);
        QCOMPARE(open.failure(), Link::Failure::Misbehaved);
        link.open = false;
        StageClient closed = makeClient(link);
        closed.leave("disconnected", Link::Failure::Broken);
        QCOMPARE(closed.phase(), Phase::Draining);
    }

    // Its input, packet by packet, whatever reads brought it.
    void itsInputComesOutPacketByPacket()
    {
        FakeLink link;
        StageClient client = makeClient(link);
        QCOMPARE(client.take(0).kind, Kind::Nothing);
        link.in = "\x0A";
        QCOMPARE(client.take(0).kind, Kind::Nothing); // one byte does not tell
        link.in = QByteArray("Gimbo\0\x02"
                             "Action",
                             13);
        StageClient::Input input = client.take(0);
        QCOMPARE(input.kind, Kind::Packet);
        QCOMPARE(input.packet, "\x0AGimbo");
        QCOMPARE(client.take(0).kind, Kind::Nothing);
        link.in = QByteArray(5000, 'x') + '\0';
        QCOMPARE(client.take(0).kind, Kind::Overlong);
        link.in = QByteArray(PacketFramer::DefaultMaxRun + 1, 'x');
        QCOMPARE(client.take(0).kind, Kind::Overflowed);
    }

    void anotherProtocolsBytesAreNoPackets_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<FirstBytes::Kind>("spoke");
        QTest::newRow("HTTP") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\n\r\n\x0A"
                                            "A") +
                                     '\0'
                              << FirstBytes::Kind::Http;
        QTest::newRow("TLS") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)
                             << FirstBytes::Kind::Tls;
    }
    void anotherProtocolsBytesAreNoPackets()
    {
        QFETCH(QByteArray, first);
        QFETCH(FirstBytes::Kind, spoke);
        FakeLink link;
        StageClient client = makeClient(link);
        link.in = first;
        const StageClient::Input input = client.take(0);
        QCOMPARE(input.kind, Kind::NotStage);
        QCOMPARE(input.spoke, spoke);
    }

    // Over its budget a packet waits, whole, until the budget refills.
    void aPacketOverBudgetWaitsForIt()
    {
        FakeLink link;
        ServerSettings settings;
        settings.byteBurst = 100;
        StageClient client = makeClient(link, settings);
        link.in = QByteArray("\x0AGimbo\0", 7) + '\x02' + QByteArray(98, 'a') + '\0';
        QCOMPARE(client.take(0).kind, Kind::Packet);
        QCOMPARE(client.take(0).kind, Kind::Later);
        const StageClient::Input later = client.take(qint64(10) * 1'000'000'000);
        QCOMPARE(later.kind, Kind::Packet);
        QCOMPARE(later.packet.size(), 99);
    }

    // Once closed, what it still sent is read up to a bound, then no more.
    void aDrainingClientIsReadUpToItsBound()
    {
        FakeLink link;
        ServerSettings settings;
        settings.byteBurst = 1e9;
        settings.byteRate = 1e9;
        settings.burst = 1e9;
        settings.rate = 1e9;
        StageClient client = makeClient(link, settings);
        link.in = QByteArray("\x0AGimbo\0", 7);
        QCOMPARE(client.take(0).kind, Kind::Packet);
        client.join(0, "Gimbo", "Gimbo", "gimbo");
        link.open = false;
        client.leave("disconnected", Link::Failure::Broken);
        const QByteArray line = '\x02' + QByteArray(4000, 'a') + '\0';
        for (int i = 0; i < 20; ++i)
            link.in += line;
        int read = 0;
        StageClient::Input input;
        while ((input = client.take(0)).kind == Kind::Packet)
            ++read;
        QCOMPARE(input.kind, Kind::DrainSpent);
        QCOMPARE(read, int(StageClient::MaxDrainBytes / line.size()));
    }

private:
    using Kind = StageClient::Input::Kind;

    class FakeLink : public Link
    {
    public:
        QHostAddress peerAddress() const override { return QHostAddress::LocalHost; }
        quint16 peerPort() const override { return 5000; }
        QString kind() const override { return {}; }
        QByteArray read(qint64 max) override
        {
            const QByteArray bytes = in.first(std::min(max, qint64(in.size())));
            in.remove(0, bytes.size());
            return bytes;
        }
        qint64 bytesAvailable() const override { return in.size(); }
        void write(const QByteArray &packets) override { written += packets; }
        qint64 bytesToWrite() const override { return 0; }
        bool isOpen() const override { return open; }
        void abort() override { open = false; }
        void closeAfter(const QByteArray &) override { open = false; }

        QByteArray in;
        QByteArray written;
        bool open = true;
    };

    StageClient makeClient(FakeLink &link, const ServerSettings &settings = {})
    {
        StageClient::Hooks hooks;
        hooks.nowMs = [] {
            return qint64(0);
        };
        hooks.write = [&link](StageClient &, const QByteArray &packet) {
            link.write(packet);
        };
        return StageClient(&link, std::make_shared<AddressGroup>(settings, 0), "127.0.0.1:5000",
                           StageFigures::Carrier::Tcp, 1, 4096, std::move(hooks));
    }
};

QTEST_GUILESS_MAIN(TestStageClient)
#include "tst_stageclient.moc"
