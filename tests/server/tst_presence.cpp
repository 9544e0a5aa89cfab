// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"

#include <QTest>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A client that takes each read as one packet, reading as fast as it can
// on a thread of its own: it joins and keeps every read until `expected`
// packets have come after the number.
class ReadByRead
{
public:
    ReadByRead(quint16 port, const QByteArray &name, int expected)
        : m_reader([this, port, name, expected] { run(port, name, expected); })
    {}
    ~ReadByRead() { finish(); }
    bool waitForNumber()
    {
        return QTest::qWaitFor([this] { return m_numbered.load(); }, 3000);
    }
    // Every read, the number's first; waits up to 5 s for the rest.
    QList<QByteArray> finish()
    {
        if (m_reader.joinable())
            m_reader.join();
        return m_reads;
    }

private:
    void run(quint16 port, const QByteArray &name, int expected)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0)
            return;
        const QByteArray join = '\x0A' + name + '\0';
        ::send(fd, join.constData(), size_t(join.size()), 0);
        char buffer[65536];
        int terminators = 0;
        pollfd wait{fd, POLLIN, 0};
        while (terminators<expected && ::poll(&wait, 1, 5000)> 0) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            m_reads.append(QByteArray(buffer, got));
            terminators += int(m_reads.last().count('\0'));
            m_numbered = true;
        }
        ::close(fd);
    }

    QList<QByteArray> m_reads;
    std::atomic<bool> m_numbered = false;
    std::thread m_reader;
};

// Who is on the stage, as every client sees it: leavers gone, every name
// with a place, every packet in a read of its own, long lines whole.
class TestPresence : public QObject
{
    Q_OBJECT

    static QByteArray notice(const QByteArray &text) { return "[Quandrel] - " + text + "\r\n"; }
    static QByteArray offStage(int number, const QByteArray &code = "Gimbo")
    {
        return "Action" + QByteArray::number(number) + "GoLeft" + code + "X-999Y480Z";
    }

    // The packets since `from` that are not "NewUser".
    static QList<QByteArray> since(StagePeer &peer, qsizetype from)
    {
        QList<QByteArray> out = peer.packets().mid(from);
        out.removeAll("NewUser");
        return out;
    }

    static bool waitForPacket(StagePeer &peer, const QByteArray &packet, int ms = 1000)
    {
        return QTest::qWaitFor([&] { return peer.packets().contains(packet); }, ms);
    }

private slots:
    void leaversStepOffEveryStage()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        StagePeer ann(server.port());
        QCOMPARE(ann.join("Ann"), 0);
        auto bob = std::make_unique<StagePeer>(server.port());
        QCOMPARE(bob->join("Bob"), 1);
        StagePeer cat(server.port());
        QCOMPARE(cat.join("Cat"), 2);

        // One who stepped: its own avatar steps off, after its last packets.
        bob->send("Action1GoRightSorraX1800Y480Z");
        bob->send("[Bob] - bye\r\n");
        bob->socket().disconnectFromHost();
        for (StagePeer *peer : {&ann, &cat}) {
            QVERIFY(waitForPacket(*peer, offStage(1, "Sorra")));
            // The step may have been superseded where the peer was held back
            // for a moment; the line never is.
            QList<QByteArray> got = since(*peer, 0);
            got.removeAll("Action1GoRightSorraX1800Y480Z");
            QCOMPARE(got, (QList<QByteArray>{"[Bob] - bye\r\n", offStage(1, "Sorra")}));
        }

        // Two at once, who never stepped.
        auto dan = std::make_unique<StagePeer>(server.port());
        QCOMPARE(dan->join("Dan"), 1);
        auto eve = std::make_unique<StagePeer>(server.port());
        QCOMPARE(eve->join("Eve"), 3);
        const qsizetype seen = ann.packets().size();
        dan.reset();
        eve.reset();
        QVERIFY(waitForPacket(ann, offStage(1)));
        QVERIFY(waitForPacket(ann, offStage(3)));
        QVERIFY(waitForPacket(cat, offStage(3)));
        QCOMPARE(since(ann, seen).size(), 2);

        // The number is free again, and whoever takes it next stands anew.
        StagePeer fay(server.port());
        QCOMPARE(fay.join("Fay"), 1);
        fay.send("Action1StLeftTavroX1800");
        QVERIFY(waitForPacket(ann, "Action1StLeftTavroX1800"));
    }

    void sixWithOneAvatarAllGetAPlace()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        std::vector<std::unique_ptr<StagePeer>> gimbos;
        for (int i = 0; i < 6; ++i) {
            gimbos.push_back(std::make_unique<StagePeer>(server.port()));
            QCOMPARE(gimbos.back()->join("Gimbo"), i);
        }
        for (int i = 1; i < 6; ++i) {
            QVERIFY(gimbos[i]->waitForPackets(1));
            QCOMPARE(gimbos[i]->packets().first(),
                     notice("Someone called Gimbo is already here: the stage knows you as Gimbo " +
                            QByteArray::number(i + 1)));
        }
        // Each speaks under the name it joined with, and is heard under its own.
        QList<QByteArray> lines;
        for (int i = 0; i < 6; ++i) {
            gimbos[i]->send("[Gimbo] - hi from " + QByteArray::number(i) + "\r\n");
            lines.append("[Gimbo" + (i > 0 ? " " + QByteArray::number(i + 1) : QByteArray()) +
                         "] - hi from " + QByteArray::number(i) + "\r\n");
        }
        // Lines from six connections at once reach the server in no set order.
        std::sort(lines.begin(), lines.end());
        for (auto &gimbo : gimbos) {
            auto heard = [&gimbo] {
                QList<QByteArray> heard = gimbo->packets();
                heard.removeIf([](const QByteArray &p) { return !p.startsWith("[Gimbo"); });
                std::sort(heard.begin(), heard.end());
                return heard;
            };
            QVERIFY(QTest::qWaitFor([&] { return heard().size() >= lines.size(); }, 3000));
            QCOMPARE(heard(), lines);
        }
        QVERIFY(server.log().contains(QStringLiteral("\"Gimbo\" shown as \"Gimbo 6\"")));
    }

    // A client that takes each read as one packet, reading as fast as it
    // can, joins a stage that is busy all through its quiet time.
    void aNewcomerGetsOnePacketEachRead()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices"), QStringLiteral("--newcomer-quiet"),
                              QStringLiteral("250")}));
        std::vector<std::unique_ptr<StagePeer>> stage;
        for (int i = 0; i < 9; ++i) {
            stage.push_back(std::make_unique<StagePeer>(server.port()));
            QCOMPARE(stage.back()->join("P" + QByteArray::number(i)), i);
        }
        constexpr int Expected = 9 * 2; // the newest step and the line of each
        ReadByRead newcomer(server.port(), "new", Expected);
        QVERIFY(newcomer.waitForNumber());
        for (int i = 0; i < 9; ++i) {
            QByteArray burst;
            for (int step = 0; step < 5; ++step)
                burst += "\x02"
                         "Action" +
                         QByteArray::number(i) + "GoLeftGimboX" +
                         QByteArray::number(1800 - 50 * step) + "Y480Z" + '\0';
            burst += "\x02[P" + QByteArray::number(i) + "] - busy\r\n" + '\0';
            stage[i]->write(burst);
        }
        QList<QByteArray> reads = newcomer.finish();
        QVERIFY(!reads.isEmpty());
        QCOMPARE(reads.takeFirst(), QByteArray("ClientNumber9"));
        QCOMPARE(reads.size(), Expected);
        for (const QByteArray &read : reads) {
            QVERIFY2(read.count('\0') == 1 && read.endsWith('\0'), read.constData());
            if (read.startsWith("Action"))
                QVERIFY2(read.contains("X1600Y"), read.constData()); // only the newest
        }
    }

    // What a client that takes each read as one packet must see apart: the
    // pieces of a long line, and a leave notice and the leaver's step off.
    // One round of the test below: Bob says a long line and leaves, and a
    // reader that takes each read as one packet gets all of it; its reads
    // after its number, or nothing when something did not come.
    static std::optional<QList<QByteArray>> longLineAndLeave()
    {
        ServerProcess server;
        if (!server.start({QStringLiteral("--newcomer-quiet"), QStringLiteral("2")}))
            return std::nullopt;
        auto bob = std::make_unique<StagePeer>(server.port());
        if (bob->join("Bob") != 0)
            return std::nullopt;
        ReadByRead newcomer(server.port(), "new", 3 + 2); // three pieces, notice, step
        if (!newcomer.waitForNumber() || !waitForPacket(*bob, "NewUser"))
            return std::nullopt;
        QByteArrayList words;
        for (int i = 0; words.join(' ').size() < 1000; ++i)
            words.append("word" + QByteArray::number(i));
        bob->send("[Bob] - " + words.join(' ') + "\r\n");
        if (!QTest::qWaitFor([&] {
                return std::count_if(
                           bob->packets().begin(), bob->packets().end(),
                           [](const QByteArray &p) { return p.startsWith("[Bob] - "); }) == 3;
            }))
            return std::nullopt;
        bob.reset();
        QList<QByteArray> reads = newcomer.finish();
        if (reads.isEmpty() || reads.takeFirst() != QByteArray("ClientNumber1"))
            return std::nullopt;
        return reads;
    }

    // What a client that takes each read as one packet must see apart: the
    // pieces of a long line, and a leave notice and the leaver's step off.
    // A reader starved of the CPU for longer than the gap may still get two
    // in a read, so it has three tries; without the gap, every try fails.
    void whatMustBeSeenApartComesInReadsOfItsOwn()
    {
        QList<QByteArray> reads;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const auto got = longLineAndLeave();
            QVERIFY2(got, "the long line, the notice or the step did not come");
            reads = *got;
            if (reads.size() == 5)
                break;
        }
        QCOMPARE(reads.size(), 5);
        for (const QByteArray &read : reads)
            QVERIFY2(read.count('\0') == 1 && read.endsWith('\0'), read.constData());
        QVERIFY(reads.contains(notice("Bob left the stage") + '\0'));
        QVERIFY(reads.contains(offStage(0) + '\0'));
    }

    void longLinesArriveWhole()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        StagePeer ann(server.port());
        QCOMPARE(ann.join("Ann"), 0);
        StagePeer bob(server.port());
        QCOMPARE(bob.join("Bob"), 1);
        QVERIFY(ann.waitForPackets(1));

        // 1,000 bytes of words: three lines, cut at blanks, every word in order.
        QByteArrayList words;
        for (int i = 0; words.join(' ').size() < 1000; ++i)
            words.append("word" + QByteArray::number(i));
        const QByteArray text = words.join(' ');
        bob.send("[Bob] - " + text + "\r\n");
        QVERIFY(ann.waitForPackets(4));
        QByteArrayList pieces;
        for (const QByteArray &line : ann.packets().mid(1)) {
            QVERIFY(line.startsWith("[Bob] - ") && line.endsWith("\r\n"));
            pieces.append(line.mid(8, line.size() - 10));
            QVERIFY(pieces.last().size() <= 400);
        }
        QCOMPARE(pieces.size(), 3);
        QCOMPARE(pieces.join(' '), text);

        // 5,000 bytes: over the bound of a packet, so not sent, and Bob is told.
        bob.send("[Bob] - " + QByteArray(5000, 'x') + "\r\n");
        bob.send("[Bob] - still here\r\n");
        QVERIFY(waitForPacket(ann, "[Bob] - still here\r\n", 3000));
        QVERIFY(waitForPacket(bob, notice("Not sent: a packet holds at most 4096 bytes")));
        QVERIFY(bob.isConnected());
        QCOMPARE(ann.packets().size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestPresence)
#include "tst_presence.moc"
