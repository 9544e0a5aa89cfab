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
        QCOMPARE(*framer.next(), QByteArray("\x0A"
                                            "Ann"));
        QCOMPARE(*framer.next(), QByteArray("\x02hi"));
        QVERIFY(!framer.next());
        QCOMPARE(framer.buffered(), 1);
        framer.append(QByteArray("x\0", 2));
        QCOMPARE(*framer.next(), QByteArray("\x02x"));
        QVERIFY(!framer.overflowed());
    }

    void boundsPackets()
    {
        PacketFramer exact(4096);
        exact.append(QByteArray(4096, 'a'));
        QVERIFY(!exact.next());
        QVERIFY(!exact.overflowed());
        exact.append(QByteArray(1, '\0'));
        QCOMPARE(exact.next()->size(), 4096);

        PacketFramer unterminated(4096);
        for (int i = 0; i < 5; ++i) {
            unterminated.append(QByteArray(1000, 'a'));
            unterminated.next();
        }
        QVERIFY(unterminated.overflowed());
        QCOMPARE(unterminated.buffered(), 0); // nothing kept once it overflowed

        PacketFramer longOne(4096);
        longOne.append(QByteArray(5000, 'a') + '\0');
        QVERIFY(!longOne.next());
        QVERIFY(longOne.overflowed());
    }
};

QTEST_APPLESS_MAIN(TestPacketFramer)
#include "tst_packetframer.moc"
