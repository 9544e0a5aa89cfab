// SPDX-License-Identifier: MIT
#include "net/ReceivedText.h"

#include <QTest>

// How reads from the server are cut into packets and recognised.
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
};

QTEST_APPLESS_MAIN(TestReceivedText)
#include "tst_receivedtext.moc"
