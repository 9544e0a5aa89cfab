// SPDX-License-Identifier: MIT
#include "net/ActionView.h"
#include "net/PacketBytes.h"

#include <QTest>

// An Action packet's fields at byte level, and the bytes every packet is
// built from.
class TestActionView : public QObject
{
    Q_OBJECT

private slots:
    void fields_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QByteArray>("fields"); // number command code x y, or empty
        QTest::newRow("step left")
            << QByteArray("Action3GoLeftGimboX1200Y480Z") << QByteArray("3 0 Gimbo 1200 480");
        QTest::newRow("step right, a blank in the code")
            << QByteArray("Action7GoRightNubo X850Y480Z") << QByteArray("7 1 Nubo  850 480");
        QTest::newRow("presence") << QByteArray("Action0StLeftTavroX1800")
                                  << QByteArray("0 2 Tavro 1800 ");
        QTest::newRow("presence right, off the stage")
            << QByteArray("Action9StRightSorraX-1049") << QByteArray("9 3 Sorra -1049 ");
        QTest::newRow("terminated")
            << QByteArray("Action1GoLeftGimboX-999Y480Z\0", 29) << QByteArray("1 0 Gimbo -999 480");
        QTest::newRow("long numbers") << QByteArray("Action2GoLeftJaxo X-500000000Y480000000Z")
                                      << QByteArray("2 0 Jaxo  -500000000 480000000");
        for (const char *odd : {"Action2GoLeftGimboX1800Y480", "Action2StLeftGimboX1800Y480Z",
                                "Action2StLeftGimboX18.5", "Action2StLeftGimboX 1800",
                                "Action2GoRightGimboX1800Y480Zhi", "Action12GoLeftGimboX1Y1Z",
                                "Action2goLeftGimboX1800Y480Z", "Action2GimboX1800",
                                "Action2GoLeftGimbX1800Y480Z", "Action2StLeftGimboX-",
                                "Action2StLeftGimboX--5", "ActionXStLeftGimboX5", "Action", ""})
            QTest::newRow(odd) << QByteArray(odd) << QByteArray();
    }
    void fields()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QByteArray, fields);
        const auto view = ActionView::parse(packet);
        QCOMPARE(view.has_value(), !fields.isEmpty());
        if (!view)
            return;
        const QByteArray got =
            QByteArray::number(view->number) + ' ' + QByteArray::number(int(view->command)) + ' ' +
            view->code.toByteArray() + ' ' + view->x.toByteArray() + ' ' + view->y.toByteArray();
        QCOMPARE(got, fields);
        // Built again from its fields, it is the same packet.
        packet.removeIf([](char c) { return c == '\0'; });
        QCOMPARE(PacketBytes::action(QByteArray::number(view->number), view->command, view->code,
                                     view->x, view->y),
                 packet);
    }

    // What the held output asks of any packet, in whatever shape.
    void theSenderOfAnyActionPacket()
    {
        QCOMPARE(ActionView::senderOf("Action9GoLeft"), std::optional<int>(9));
        QCOMPARE(ActionView::senderOf("Action0"), std::optional<int>(0));
        QCOMPARE(ActionView::senderOf("Action"), std::nullopt);
        QCOMPARE(ActionView::senderOf("ActionX"), std::nullopt);
        QCOMPARE(ActionView::senderOf("[A] - Action1\r\n"), std::nullopt);
        QVERIFY(ActionView::isStepPacket("Action9GoRightX"));
        QVERIFY(!ActionView::isStepPacket("Action9StRightGimboX1"));
        QVERIFY(!ActionView::isStepPacket("NewUser"));
    }

    void otherPackets()
    {
        QCOMPARE(PacketBytes::chatLine("Ann", "hi"), QByteArray("[Ann] - hi\r\n"));
        QCOMPARE(PacketBytes::chatLine("", ""), QByteArray("[] - \r\n"));
        QCOMPARE(PacketBytes::clientNumber(7), QByteArray("ClientNumber7"));
    }
};

QTEST_APPLESS_MAIN(TestActionView)
#include "tst_actionview.moc"
