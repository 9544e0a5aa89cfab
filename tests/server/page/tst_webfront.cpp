// SPDX-License-Identifier: MIT
#include "server/carriers/WebSocketLink.h"

#include <QTest>

// What a WebSocket message from a browser may hold.
class TestWebFront : public QObject
{
    Q_OBJECT

private slots:
    void onePacketAMessage_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("one");
        QTest::newRow("a join") << QByteArray("\x0Ax\0", 3) << true;
        QTest::newRow("a lone terminator") << QByteArray(1, '\0') << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no terminator") << QByteArray("\x02x") << false;
        QTest::newRow("two packets") << QByteArray("\x02x\0\x02y\0", 6) << false;
        QTest::newRow("a terminator inside") << QByteArray("\x02x\0y", 4) << false;
    }
    void onePacketAMessage()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, one);
        QCOMPARE(WebSocketLink::isOnePacket(message), one);
    }
};

QTEST_GUILESS_MAIN(TestWebFront)
#include "tst_webfront.moc"
