// SPDX-License-Identifier: MIT
#include "net/Cp1252.h"
#include "net/Packets.h"
#include "net/PositionText.h"

#include <QTest>

// Packets as they go on the wire, byte for byte.
class TestPackets : public QObject
{
    Q_OBJECT

    static QByteArray wire(const QString &packet) { return Cp1252::encode(packet); }

private slots:
    void joinPacket()
    {
        QCOMPARE(wire(Packets::join(QString())), QByteArray("\x0A\x00", 2));
        QCOMPARE(wire(Packets::join(QStringLiteral("Nubo "))), QByteArray("\x0ANubo \x00", 7));
    }

    void chatLine()
    {
        const QByteArray bytes =
            wire(Packets::chatLine(QStringLiteral("Ann"), QStringLiteral("hi")));
        QCOMPARE(bytes, QByteArray("\x02[Ann] - hi\r\n\x00", 14));
        QCOMPARE(bytes.size(), 14);
        // Blanks and the brackets of the frame itself go out unchanged.
        QCOMPARE(wire(Packets::chatLine(QStringLiteral("Gimbo"), QStringLiteral("  [x] - y  "))),
                 QByteArray("\x02[Gimbo] -   [x] - y  \r\n\x00", 25));
    }

    void movePackets()
    {
        QCOMPARE(wire(Packets::move(Direction::Left, QStringLiteral("3"), QStringLiteral("Gimbo"),
                                    1200, 480)),
                 QByteArray("\x02"
                            "Action3GoLeftGimboX1200Y480Z\x00",
                            30));
        QCOMPARE(wire(Packets::move(Direction::Right, QStringLiteral("7"), QStringLiteral("Nubo "),
                                    850, 480)),
                 QByteArray("\x02"
                            "Action7GoRightNubo X850Y480Z\x00",
                            30));
        // A two-digit client number shifts every later field by one.
        QCOMPARE(wire(Packets::move(Direction::Left, QStringLiteral("12"), QStringLiteral("Jaxo "),
                                    50, 465)),
                 QByteArray("\x02"
                            "Action12GoLeftJaxo X50Y465Z\x00",
                            29));
    }

    void presenceAnswer()
    {
        QCOMPARE(wire(Packets::presence(Direction::Right, QStringLiteral("3"),
                                        QStringLiteral("Gimbo"), 1800)),
                 QByteArray("\x02"
                            "Action3StRightGimboX1800\x00",
                            26));
        QCOMPARE(wire(Packets::presence(Direction::Left, QStringLiteral("3"),
                                        QStringLiteral("Gimbo"), 1800)),
                 QByteArray("\x02"
                            "Action3StLeftGimboX1800\x00",
                            25));
    }

    void positionText_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 1800.0f << QStringLiteral("1800");
        QTest::newRow("two digits") << 50.0f << QStringLiteral("50");
        QTest::newRow("negative") << -50.0f << QStringLiteral("-50");
        QTest::newRow("zero") << 0.0f << QStringLiteral("0");
        QTest::newRow("negative zero") << -0.0f << QStringLiteral("0");
        QTest::newRow("fraction") << 1800.5f << QStringLiteral("1800.5");
        QTest::newRow("five digits") << 10000.0f << QStringLiteral("10000");
    }
    void positionText()
    {
        QFETCH(float, value);
        QFETCH(QString, text);
        QCOMPARE(PositionText::format(value), text);
    }

    void positionParse()
    {
        QCOMPARE(PositionText::parse(u"1800"), std::optional<float>(1800));
        QCOMPARE(PositionText::parse(u"-50"), std::optional<float>(-50));
        QCOMPARE(PositionText::parse(u"7.5"), std::optional<float>(7.5));
        QCOMPARE(PositionText::parse(u"+5"), std::optional<float>(5));
        QCOMPARE(PositionText::parse(u"0050"), std::optional<float>(50));
        QCOMPARE(PositionText::parse(u"-12345678901"), std::optional<float>(-12345678901.0f));
        for (QStringView bad :
             {u"", u"-", u" 12", u"12 ", u"1e3", u"nan", u"inf", u"0x1", u"1.2.3", u"Y4"})
            QVERIFY2(!PositionText::parse(bad), qPrintable(bad.toString()));
    }

    void codecRoundTripsEveryByte()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(Cp1252::encode(Cp1252::decode(all)), all);
    }

    void codecMapsWindowsCharacters()
    {
        QCOMPARE(Cp1252::decode("\x80\x9F\xE9"), QStringLiteral("\u20AC\u0178\u00E9"));
        QCOMPARE(Cp1252::encode(QStringLiteral("\u20AC\u2019\u00FC")), QByteArray("\x80\x92\xFC"));
    }

    void codecReplacesWhatItCannotHold()
    {
        QCOMPARE(Cp1252::encode(QStringLiteral("a\u4E2Db")), QByteArray("a?b"));
        // One "?" for a character outside the BMP, not one per UTF-16 half.
        QCOMPARE(Cp1252::encode(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
        QCOMPARE(Cp1252::encode(QStringLiteral("\u0080")), QByteArray("?"));
        // A lone surrogate is not representable either.
        QCOMPARE(Cp1252::encode(QString(QChar(0xD800))), QByteArray("?"));
    }
};

QTEST_APPLESS_MAIN(TestPackets)
#include "tst_packets.moc"
