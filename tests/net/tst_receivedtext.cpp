// SPDX-License-Identifier: MIT
#include "net/PacketFramer.h"
#include "net/ReceivedText.h"

#include <QTest>

// How reads from the server are cut into packets and recognised, and how the
// server cuts its inbound stream.
class TestReceivedText : public QObject
{
    Q_OBJECT

    static QString text(const char *bytes, int size) { return QString::fromLatin1(bytes, size); }

private slots:
    void prefixes_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<int>("kind");
        QTest::newRow("client number")
            << QStringLiteral("ClientNumber3") << int(PacketKind::ClientNumber);
        QTest::newRow("new user") << QStringLiteral("NewUser") << int(PacketKind::NewUser);
        QTest::newRow("new user and more")
            << QStringLiteral("NewUser Ann") << int(PacketKind::NewUser);
        QTest::newRow("action") << QStringLiteral("Action3GoLeftGimboX1800Y480Z")
                                << int(PacketKind::Action);
        QTest::newRow("chat") << QStringLiteral("[Ann] - hi\r\n") << int(PacketKind::Chat);
        QTest::newRow("lower case") << QStringLiteral("newuser") << int(PacketKind::Unknown);
        QTest::newRow("other case") << QStringLiteral("ACTION3") << int(PacketKind::Unknown);
        QTest::newRow("blank before") << QStringLiteral(" Action3") << int(PacketKind::Unknown);
        QTest::newRow("short keyword") << QStringLiteral("Actio") << int(PacketKind::Unknown);
        QTest::newRow("noise") << QStringLiteral("hello") << int(PacketKind::Unknown);
    }
    void prefixes()
    {
        QFETCH(QString, piece);
        QFETCH(int, kind);
        QCOMPARE(int(ReceivedText::kind(piece)), kind);
    }

    void clientNumber()
    {
        QCOMPARE(ReceivedText::clientNumber(u"ClientNumber12"), QStringLiteral("12"));
        QCOMPARE(ReceivedText::clientNumber(u"ClientNumber"), QString());
        QCOMPARE(ReceivedText::clientNumber(u"ClientNumber12345678901234567890"),
                 QStringLiteral("1234567890123"));
    }

    void splitsAtTerminators()
    {
        const QString read =
            text("Action1GoLeftGimboX1800Y480Z\0Action2GoRightNubo X850Y480Z\0", 59);
        QCOMPARE(ReceivedText::pieces(read),
                 QStringList({QStringLiteral("Action1GoLeftGimboX1800Y480Z"),
                              QStringLiteral("Action2GoRightNubo X850Y480Z")}));
        QCOMPARE(ReceivedText::pieces(text("\0\0", 2)), QStringList());
        QCOMPARE(ReceivedText::pieces(QString()), QStringList());
        // A last piece without its terminator still counts; nothing is held for the next read.
        QCOMPARE(ReceivedText::pieces(text("NewUser\0Action3", 15)),
                 QStringList({QStringLiteral("NewUser"), QStringLiteral("Action3")}));
    }

    void clientNumberNeverTakesTheNextPacket()
    {
        QCOMPARE(ReceivedText::pieces(text("ClientNumber3\0NewUser\0", 22)),
                 QStringList({QStringLiteral("ClientNumber3"), QStringLiteral("NewUser")}));
        // The server writes the number without a terminator: what follows is another packet.
        QCOMPARE(ReceivedText::pieces(text("ClientNumber3NewUser\0", 21)),
                 QStringList({QStringLiteral("ClientNumber3"), QStringLiteral("NewUser")}));
        const QStringList pieces =
            ReceivedText::pieces(text("ClientNumber4Action4StLeftGimboX1800\0[A] - b\r\n\0", 48));
        QCOMPARE(pieces, QStringList({QStringLiteral("ClientNumber4"),
                                      QStringLiteral("Action4StLeftGimboX1800"),
                                      QStringLiteral("[A] - b\r\n")}));
        QCOMPARE(ReceivedText::clientNumber(pieces.first()), QStringLiteral("4"));
        QCOMPARE(ReceivedText::pieces(QStringLiteral("ClientNumber5ClientNumber6")),
                 QStringList({QStringLiteral("ClientNumber5"), QStringLiteral("ClientNumber6")}));
    }

    void framerCutsAtTerminators()
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

    void framerBoundsPackets()
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

QTEST_APPLESS_MAIN(TestReceivedText)
#include "tst_receivedtext.moc"
