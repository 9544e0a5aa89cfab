// SPDX-License-Identifier: MIT
#include "stage/StagePeople.h"

#include <QTest>

// Who stands on the stage, in the words a screen reader says.
class TestStagePeople : public QObject
{
    Q_OBJECT

    static AvatarImage standing(float left, bool right = false, QStringView code = u"Sorra")
    {
        AvatarImage image;
        image.makeVisible();
        image.setLeft(left);
        image.assignSprite(Roster::byCode(code)->sprite(right));
        return image;
    }

private slots:
    void whoIsOnTheStage_data()
    {
        QTest::addColumn<AvatarImage>("image");
        QTest::addColumn<bool>("on");
        QTest::newRow("never shown") << AvatarImage() << false;
        AvatarImage noPicture;
        noPicture.makeVisible();
        QTest::newRow("shown without a picture") << noPicture << false;
        QTest::newRow("standing") << standing(900) << true;
        QTest::newRow("stepped off on the left") << standing(-1049) << false;
        // Sorra is 14 pixels, 210 twips, wide.
        QTest::newRow("its last twip shows") << standing(-209) << true;
        QTest::newRow("wholly past the left") << standing(-210) << false;
        QTest::newRow("at the right edge") << standing(2519) << true;
        QTest::newRow("past the right edge") << standing(2520) << false;
    }
    void whoIsOnTheStage()
    {
        QFETCH(AvatarImage, image);
        QFETCH(bool, on);
        QCOMPARE(StagePeople::onStage(image), on);
    }

    void whereOthersStandFromYou_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<float>("left");
        QTest::addColumn<QString>("said");
        QTest::newRow("you") << 3 << 1800.0f << "You, client 3, Gimbo";
        QTest::newRow("left") << 0 << 1600.0f << "Client 0, Sorra, 4 steps left of you";
        QTest::newRow("one step right") << 7 << 1850.0f << "Client 7, Sorra, 1 step right of you";
        QTest::newRow("between steps") << 7 << 1824.0f << "Client 7, Sorra, where you stand";
        QTest::newRow("where you stand") << 9 << 1800.0f << "Client 9, Sorra, where you stand";
    }
    void whereOthersStandFromYou()
    {
        QFETCH(int, index);
        QFETCH(float, left);
        QFETCH(QString, said);
        const AvatarImage own = standing(1800, false, u"Gimbo");
        const AvatarImage image = index == 3 ? own : standing(left);
        QCOMPARE(StagePeople::describe(index, image, 3, &own), said);
    }

    void beforeYourNumber()
    {
        QCOMPARE(StagePeople::describe(2, standing(100, true), std::nullopt, nullptr),
                 QStringLiteral("Client 2, Sorra"));
    }
};

Q_DECLARE_METATYPE(AvatarImage)
QTEST_GUILESS_MAIN(TestStagePeople)
#include "tst_stagepeople.moc"
