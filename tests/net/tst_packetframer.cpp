// SPDX-License-Identifier: MIT
#include "net/PacketFramer.h"

#include <QTest>

// How the server cuts its inbound stream into packets.
class TestPacketFramer : public QObject
{
    Q_OBJECT

private slots:
    void cutsAtTerminators()
    {
        PacketFramer framer(16);
        framer.append("\x0A"
                      "Ann");
        QVERIFY(!framer.next());
        framer.append(QByteArray("\0\x02hi\0\x02", 6));
        QCOMPARE(framer.next()->packet, QByteArray("\x0A"
                                                   "Ann"));
        QCOMPARE(framer.next()->packet, QByteArray("\x02hi"));
        QVERIFY(!framer.next());
        QCOMPARE(framer.buffered(), 1);
        framer.append(QByteArray("x\0", 2));
        QCOMPARE(framer.next()->packet, QByteArray("\x02x"));
        QVERIFY(!framer.overflowed());
    }

    void boundsPackets()
    {
        PacketFramer exact(4096);
        exact.append(QByteArray(4096, 'a'));
        QVERIFY(!exact.next());
        QVERIFY(!exact.overflowed());
        exact.append(QByteArray(1, '\0'));
        QCOMPARE(exact.next()->packet.size(), 4096);

        PacketFramer unterminated(4096, 16384);
        for (int i = 0; i < 17; ++i) {
            unterminated.append(QByteArray(1000, 'a'));
            QVERIFY(!unterminated.next());
            QCOMPARE(unterminated.overflowed(), i == 16);
            QVERIFY(unterminated.buffered() <= 4096); // nothing of the long run kept
        }
        unterminated.append(QByteArray("\0\x02hi\0", 5));
        QVERIFY(!unterminated.next()); // nothing after it is read either

        PacketFramer whole(4096, 16384);
        whole.append(QByteArray(20000, 'a') + '\0');
        QVERIFY(!whole.next());
        QVERIFY(whole.overflowed());
    }

    // A packet past the packet bound is skipped to its terminator, told as
    // one overlong packet in its place, and what follows is read as ever.
    void skipsOverlongPackets()
    {
        PacketFramer inOneRead(4096);
        inOneRead.append("\x02"
                         "a" +
                         QByteArray(1, '\0') + QByteArray(5000, 'b') + '\0' +
                         "\x02"
                         "c" +
                         '\0');
        QCOMPARE(inOneRead.next()->packet, QByteArray("\x02"
                                                      "a"));
        const auto skipped = inOneRead.next();
        QCOMPARE(skipped->overlong, 5000);
        QVERIFY(skipped->packet.isEmpty());
        QCOMPARE(inOneRead.next()->packet, QByteArray("\x02"
                                                      "c"));
        QVERIFY(!inOneRead.next());

        PacketFramer trickled(4096);
        for (int i = 0; i < 50; ++i) {
            trickled.append(QByteArray(1000, 'b'));
            QVERIFY(!trickled.next());
            QVERIFY(trickled.buffered() <= 4096);
        }
        trickled.append(QByteArray("bb\0\x02"
                                   "d\0\x02",
                                   7));
        QCOMPARE(trickled.next()->overlong, 50002);
        QCOMPARE(trickled.next()->packet, QByteArray("\x02"
                                                     "d"));
        QVERIFY(!trickled.next());
        QCOMPARE(trickled.buffered(), 1);
        QVERIFY(!trickled.overflowed());
    }
};

QTEST_APPLESS_MAIN(TestPacketFramer)
#include "tst_packetframer.moc"
