// SPDX-License-Identifier: MIT
#include "stage/AvatarImage.h"
#include "stage/RemoteUpdate.h"
#include "stage/StageRules.h"

#include <QRandomGenerator>
#include <QTest>

// Received Action packets applied to an avatar image.
class TestRemoteUpdate : public QObject
{
    Q_OBJECT

    static constexpr float Ground = StageRules::GroundTop;

    static AvatarImage applied(QStringView packet, AvatarImage slot = {})
    {
        const ActionUpdate update = RemoteUpdate::parse(packet);
        if (update.index >= 0)
            RemoteUpdate::apply(update, slot, Ground);
        return slot;
    }

private slots:
    void workedExamples()
    {
        const ActionUpdate left = RemoteUpdate::parse(u"Action3GoLeftGimboX1800Y480Z");
        QCOMPARE(left.index, 3);
        QCOMPARE(left.left, std::optional<float>(1800)); // row 4: X at 19, Y at 24
        AvatarImage slot = applied(u"Action3GoLeftGimboX1800Y480Z");
        QVERIFY(slot.visible());
        QCOMPARE(slot.Left(), 1750.0f);
        QCOMPARE(slot.sprite().name.toString(), QStringLiteral("GimboLeft"));

        const ActionUpdate right = RemoteUpdate::parse(u"Action3GoRightGimboX1800Y480Z");
        QCOMPARE(right.left, std::optional<float>(1800)); // row 8: X at 20, Y at 25
        slot = applied(u"Action3GoRightGimboX1800Y480Z");
        QCOMPARE(slot.Left(), 1850.0f);
        QCOMPARE(slot.sprite().name.toString(), QStringLiteral("GimboRight"));
    }

    void rightThenLeftEndsWhereTheSenderIs()
    {
        AvatarImage slot = applied(u"Action5GoRightSorraX1800Y480Z");
        QCOMPARE(slot.Left(), 1850.0f);
        QCOMPARE(slot.sprite().name.toString(), QStringLiteral("SorraRight"));
        slot = applied(u"Action5GoLeftSorraX1850Y480Z", slot);
        QCOMPARE(slot.Left(), 1800.0f);
        QCOMPARE(slot.sprite().name.toString(), QStringLiteral("SorraLeft"));
    }

    void standsOnTheGroundWithItsNewPicture()
    {
        // A first packet: the image has no picture yet; it stands with the sprite it ends up with.
        const AvatarImage slot = applied(u"Action2GoLeftGimboX1800Y480Z");
        QCOMPARE(slot.Height(), 31 * 15.0f);
        QCOMPARE(slot.Top(), Ground - 31 * 15.0f);
        QCOMPARE(slot.Top() + slot.Height(), Ground);
        // Turning Tavro changes the width only; the bottom stays on the ground.
        const AvatarImage turned = applied(u"Action2GoRightTavroX1800Y480Z", slot);
        QCOMPARE(turned.Top() + turned.Height(), Ground);
    }

    void xTextLengths_data()
    {
        QTest::addColumn<QString>("packet");
        QTest::addColumn<float>("left");
        QTest::newRow("one digit, left") << QStringLiteral("Action1GoLeftVeck X5Y4Z") << -45.0f;
        QTest::newRow("two digits, left") << QStringLiteral("Action1GoLeftVeck X50Y4Z") << 0.0f;
        QTest::newRow("three digits, right")
            << QStringLiteral("Action1GoRightVeck X850Y4Z") << 900.0f;
        QTest::newRow("four digits, right")
            << QStringLiteral("Action1GoRightVeck X2150Y4Z") << 2200.0f;
        // Five characters match no row: the old edge (1800) is stepped instead.
        QTest::newRow("five digits") << QStringLiteral("Action1GoLeftVeck X10000Y480Z") << 1750.0f;
        QTest::newRow("not a number") << QStringLiteral("Action1GoLeftVeck XabY480Z") << 1750.0f;
        QTest::newRow("no Y") << QStringLiteral("Action1GoLeftVeck X1200") << 1750.0f;
    }
    void xTextLengths()
    {
        QFETCH(QString, packet);
        QFETCH(float, left);
        QCOMPARE(applied(packet).Left(), left);
    }

    void unknownCodeStillPlacesButNeitherStepsNorTurns()
    {
        // "Nubo" without its blank after the seven-letter word: X stands at 19, Y at 24.
        AvatarImage slot = applied(u"Action4GoRightNuboX1200Y480Z");
        QVERIFY(slot.visible());
        QCOMPARE(slot.Left(), 1200.0f);
        QCOMPARE(slot.sprite().name.toString(), QString());
        QCOMPARE(slot.Top(), Ground - 615); // no picture: the layout height
        slot = applied(u"Action4GoLeftgimboX1200Y480Z");
        QCOMPARE(slot.Left(), 1200.0f);
        QCOMPARE(slot.sprite().name.toString(), QString());
    }

    void directionWordsAreCaseSensitive()
    {
        const AvatarImage slot = applied(u"Action4goleftGimboX1200Y480Z");
        QCOMPARE(slot.Left(), 1200.0f);
        QCOMPARE(slot.sprite().name.toString(), QString());
    }

    void shortPackets()
    {
        AvatarImage slot = applied(u"Action7");
        QVERIFY(slot.visible());
        QCOMPARE(slot.Left(), 1800.0f);
        QCOMPARE(slot.sprite().name.toString(), QString());
        QCOMPARE(RemoteUpdate::parse(u"Action").index, -1);
        QCOMPARE(RemoteUpdate::parse(u"ActionXGoLeftGimboX1800Y480Z").index, -1);
        QCOMPARE(RemoteUpdate::parse(u"Action\u0663GoLeftGimboX1800Y480Z").index, -1);
        QCOMPARE(RemoteUpdate::parse(u"NewUser").index, -1);
    }

    void presenceAnswerPlacesAndTurns()
    {
        AvatarImage slot = applied(u"Action0StLeftJaxo X1850");
        QVERIFY(slot.visible());
        QCOMPARE(slot.Left(), 1850.0f);
        QCOMPARE(slot.sprite().name.toString(), QStringLiteral("JaxoLeft"));
        QCOMPARE(slot.Top(), Ground - 27 * 15);
        slot = applied(u"Action0StRightGimboX50");
        QCOMPARE(slot.Left(), 50.0f);
        QCOMPARE(slot.sprite().name.toString(), QStringLiteral("GimboRight"));
        // One who stands off the stage on the left is placed there too.
        QCOMPARE(applied(u"Action0StLeftGimboX-50").Left(), -50.0f);
        QCOMPARE(applied(u"Action0StLeftGimboX-1049").Left(), -1049.0f);
        // What is not a clean edge of 1 to 4 digits, with or without a "-",
        // leaves the image where it stands.
        for (QStringView odd :
             {u"Action0StLeftGimboX12345", u"Action0StLeftGimboX", u"Action0StLeftGimboX-12345",
              u"Action0StLeftGimboX--50", u"Action0StLeftGimboX+50", u"Action0StLeftGimboX-",
              u"Action0StLeftGimboX18 0", u"Action0StLeftGimboY1800"}) {
            QCOMPARE(applied(odd).Left(), 1800.0f);
        }
        QCOMPARE(applied(u"Action0StLeftGimboX-50").sprite().name.toString(),
                 QStringLiteral("GimboLeft"));
        QCOMPARE(applied(u"Action0StLeftNuboX900").sprite().name.toString(),
                 QString()); // no blank: no avatar
    }

    void survivesAnyText()
    {
        // Random and truncated packets: parse and apply must never crash or
        // address an image outside the array.
        QRandomGenerator random(20261208);
        const QString good = QStringLiteral("Action3GoRightNubo X1850Y465Z");
        for (int i = 0; i < 5000; ++i) {
            QString packet;
            if (i % 2) {
                packet = good.left(random.bounded(good.size() + 1));
                if (!packet.isEmpty())
                    packet[random.bounded(packet.size())] =
                        QChar(char16_t(random.bounded(0x20, 0x7F)));
            } else {
                packet = QStringLiteral("Action");
                const int n = random.bounded(40);
                for (int k = 0; k < n; ++k)
                    packet += QChar(char16_t(random.bounded(0, 0x3000)));
            }
            const ActionUpdate update = RemoteUpdate::parse(packet);
            QVERIFY(update.index >= -1 && update.index < 10);
            AvatarImage slot;
            if (update.index >= 0)
                RemoteUpdate::apply(update, slot, Ground);
            QVERIFY(std::isfinite(slot.Left()) && std::isfinite(slot.Top()));
        }
    }
};

QTEST_APPLESS_MAIN(TestRemoteUpdate)
#include "tst_remoteupdate.moc"
