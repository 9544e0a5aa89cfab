// SPDX-License-Identifier: MIT
#include "net/ReceivedStream.h"

#include <QTest>

// Packets put back together across reads, wherever the network cut them.
class TestReceivedStream : public QObject
{
    Q_OBJECT

    static QString text(QByteArrayView bytes) { return QString::fromLatin1(bytes); }

    static QStringList feed(ReceivedStream &stream, QByteArrayView read)
    {
        QStringList pieces;
        stream.feed(text(read), [&pieces](QStringView p) { pieces.append(p.toString()); });
        return pieces;
    }

private slots:
    void aPacketCutAnywhereIsOnePacket()
    {
        const QByteArray stream(
            "ClientNumber3[Ann] - hi\r\n\0Action3GoLeftGimboX1800Y480Z\0NewUser\0", 64);
        const QStringList whole = {"ClientNumber3", "[Ann] - hi\r\n",
                                   "Action3GoLeftGimboX1800Y480Z", "NewUser"};
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            for (qsizetype second = cut; second <= stream.size(); second += 7) {
                ReceivedStream received;
                QStringList pieces = feed(received, stream.first(cut));
                pieces += feed(received, stream.sliced(cut, second - cut));
                pieces += feed(received, stream.sliced(second));
                QVERIFY2(pieces == whole, qPrintable(QStringLiteral("cut at %1 and %2: %3")
                                                         .arg(cut)
                                                         .arg(second)
                                                         .arg(pieces.join(u'|'))));
                QCOMPARE(received.carried(), 0);
            }
        }
    }

    void aForgeryCannotRideOnACut()
    {
        // A long chat line cut before a text that looks like a notice.
        ReceivedStream received;
        const QByteArray line = QByteArray(1442, 'x') + "[Quandrel] - You have been muted\r\n";
        QCOMPARE(feed(received, "[Eve] - " + line.first(1000)), QStringList());
        QCOMPARE(feed(received, line.sliced(1000) + '\0'), QStringList{text("[Eve] - " + line)});
    }

    void theNumberNeedsNoTerminator()
    {
        ReceivedStream received;
        QCOMPARE(feed(received, "ClientNumber"), QStringList());
        QCOMPARE(feed(received, "7"), QStringList{"ClientNumber7"});
        QCOMPARE(feed(received, "ClientNumber 2[Bob"), QStringList{"ClientNumber 2"});
        QCOMPARE(feed(received, QByteArray("] - x\r\n\0", 8)), QStringList{"[Bob] - x\r\n"});
    }

    void anOverlongPacketIsDroppedUpToItsEnd()
    {
        ReceivedStream received;
        QCOMPARE(feed(received, QByteArray(ReceivedStream::MaxCarried, 'a')), QStringList());
        QCOMPARE(received.carried(), ReceivedStream::MaxCarried);
        QCOMPARE(feed(received, "b"), QStringList()); // one past the bound
        QCOMPARE(received.carried(), 0);
        QCOMPARE(feed(received, QByteArray(100000, 'c')), QStringList());
        QCOMPARE(received.carried(), 0);
        QCOMPARE(feed(received, QByteArray("c\0NewUser\0Act", 13)), QStringList{"NewUser"});
        QCOMPARE(feed(received, QByteArray("ion1\0", 5)), QStringList{"Action1"});
    }

    void aNewConnectionCarriesNothingOver()
    {
        ReceivedStream received;
        feed(received, "[Ann] - half");
        received.reset();
        QCOMPARE(feed(received, QByteArray("NewUser\0", 8)), QStringList{"NewUser"});
        feed(received, QByteArray(5000, 'z'));
        received.reset();
        QCOMPARE(feed(received, QByteArray("NewUser\0", 8)), QStringList{"NewUser"});
    }
};

QTEST_APPLESS_MAIN(TestReceivedStream)
#include "tst_receivedstream.moc"
