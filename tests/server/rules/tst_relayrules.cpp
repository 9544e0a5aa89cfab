// SPDX-License-Identifier: MIT
#include "CaseFile.h"
#include "chat/ChatRules.h"
#include "server/rules/RelayRules.h"

#include <QTest>

// What the server relays, and how it names people in its notices.
class TestRelayRules : public QObject
{
    Q_OBJECT

private slots:
    void ownPackets_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("own");
        const QByteArray ann = "[Ann] - ";
        QTest::newRow("step of 0") << QByteArray("Action0GoLeftGimboX1800Y480Z") << 0 << true;
        QTest::newRow("step of 9") << QByteArray("Action9GoRightNubo X900Y480Z") << 9 << true;
        QTest::newRow("presence of 9") << QByteArray("Action9StLeftVeck X100") << 9 << true;
        QTest::newRow("0 as 9") << QByteArray("Action9GoLeftGimboX1800Y480Z") << 0 << false;
        QTest::newRow("9 as 0") << QByteArray("Action0GoLeftGimboX1800Y480Z") << 9 << false;
        QTest::newRow("9 as 8") << QByteArray("Action8StLeftGimboX1800") << 9 << false;
        QTest::newRow("no number") << QByteArray("Action") << 3 << false;
        QTest::newRow("chat") << ann + "hi\r\n" << 4 << true;
        QTest::newRow("empty chat") << ann + "\r\n" << 4 << true;
        QTest::newRow("no line end") << ann + "hi" << 4 << false;
        QTest::newRow("LF only") << ann + "hi\n" << 4 << false;
        QTest::newRow("second line") << ann + "hi\r\n[Bob] - x\r\n" << 4 << false;
        QTest::newRow("bare CR inside") << ann + "a\rb\r\n" << 4 << false;
        QTest::newRow("someone else") << QByteArray("[Bob] - hi\r\n") << 4 << false;
        QTest::newRow("longer name") << QByteArray("[Anna] - hi\r\n") << 4 << false;
        QTest::newRow("no separator") << QByteArray("[Ann]hi\r\n") << 4 << false;
        QTest::newRow("number text") << QByteArray("ClientNumber3") << 3 << false;
        QTest::newRow("newcomer text") << QByteArray("NewUser") << 3 << false;
        // Steps and presence answers only in the shapes a client sends.
        QTest::newRow("negative x") << QByteArray("Action2GoLeftJaxo X-50Y480Z") << 2 << true;
        QTest::newRow("41 bytes") << QByteArray("Action2GoLeftJaxo X-5000000000Y480000000Z") << 2
                                  << false;
        QTest::newRow("40 bytes") << QByteArray("Action2GoLeftJaxo X-500000000Y480000000Z") << 2
                                  << true;
        QTest::newRow("unknown avatar") << QByteArray("Action2GoLeftBobbyX1800Y480Z") << 2 << false;
        QTest::newRow("no Z") << QByteArray("Action2GoLeftGimboX1800Y480") << 2 << false;
        QTest::newRow("presence with Y")
            << QByteArray("Action2StLeftGimboX1800Y480Z") << 2 << false;
        QTest::newRow("decimal x") << QByteArray("Action2StLeftGimboX18.5") << 2 << false;
        QTest::newRow("blank in x") << QByteArray("Action2StLeftGimboX 1800") << 2 << false;
        QTest::newRow("text after") << QByteArray("Action2GoRightGimboX1800Y480Zhi") << 2 << false;
        QTest::newRow("two digits") << QByteArray("Action12GoLeftGimboX1800Y480Z") << 1 << false;
        QTest::newRow("lower case") << QByteArray("Action2goLeftGimboX1800Y480Z") << 2 << false;
        QTest::newRow("no direction") << QByteArray("Action2GimboX1800") << 2 << false;
    }

    // The cases every client holds its lines to before sending them.
    void chatThatCouldPassForSomethingElse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("refused");
        for (const QJsonValue &row :
             CaseFile::load(QStringLiteral("chatlines.json"))[u"lines"].toArray())
            QTest::newRow(qPrintable(row[u"name"].toString()))
                << CaseFile::bytes(row[u"text"]) << row[u"refused"].toString().toLatin1();
    }
    void chatThatCouldPassForSomethingElse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, refused);
        const RelayRules::Verdict verdict = RelayRules::judge("[Ann] - " + text + "\r\n", 4, "Ann");
        QCOMPARE(verdict.kind,
                 refused.isEmpty() ? RelayRules::Verdict::Relay : RelayRules::Verdict::Refused);
        QCOMPARE(verdict.reason, refused);
    }

    void longLinesTravelInPieces_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArrayList>("pieces");
        const QByteArray x400(400, 'x'), y399(399, 'y');
        QTest::newRow("empty") << QByteArray() << QByteArrayList{""};
        QTest::newRow("400") << x400 << QByteArrayList{x400};
        QTest::newRow("no blank") << x400 + "ab" << QByteArrayList{x400, "ab"};
        QTest::newRow("at the last blank") << y399 + " a b" << QByteArrayList{y399, "a b"};
        QTest::newRow("a blank at the bound") << y399 + " " + "a " << QByteArrayList{y399, "a "};
        QTest::newRow("a blank at 400") << x400 + " b" << QByteArrayList{x400, "b"};
        QTest::newRow("a blank at the end") << x400 + " " << QByteArrayList{x400};
        QTest::newRow("only a blank first")
            << " " + x400 << QByteArrayList{" " + x400.first(399), "x"};
        QTest::newRow("blanks") << QByteArray(801, ' ')
                                << QByteArrayList{QByteArray(400, ' '), QByteArray(400, ' ')};
    }
    void longLinesTravelInPieces()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArrayList, pieces);
        QByteArrayList out;
        for (const QByteArrayView piece : ChatRules::pieces(text)) {
            QVERIFY(piece.size() <= ChatRules::MaxRelayedText);
            out.append(piece.toByteArray());
        }
        QCOMPARE(out, pieces);
    }

    void chatUnderEitherName()
    {
        using RelayRules::judge;
        using Verdict = RelayRules::Verdict;
        QCOMPARE(judge("[Gimbo] - hi\r\n", 1, "Gimbo", "Gimbo 2").kind, Verdict::Relay);
        QCOMPARE(judge("[Gimbo 2] - hi\r\n", 1, "Gimbo", "Gimbo 2").kind, Verdict::Relay);
        QCOMPARE(judge("[Gimbo 3] - hi\r\n", 1, "Gimbo", "Gimbo 2").kind, Verdict::NotOwn);
        QCOMPARE(judge("[] - hi\r\n", 1, "", "2").kind, Verdict::Relay);
        QCOMPARE(*RelayRules::chatText("[Gimbo 2] - hi\r\n", "Gimbo 2"), "hi");
        QVERIFY(!RelayRules::chatText("[Gimbo 2] - hi\r\n", "Gimbo"));
        QCOMPARE(RelayRules::chatLine("Gimbo 2", "hi"), QByteArray("[Gimbo 2] - hi\r\n\0", 17));
        const QByteArray hi("[Gimbo 2] - hi\r\n\0", 17);
        QCOMPARE(RelayRules::relayedLines("[Gimbo] - hi\r\n", "Gimbo", "Gimbo 2"), {hi});
        QCOMPARE(RelayRules::relayedLines("[Gimbo 2] - hi\r\n", "Gimbo", "Gimbo 2"), {hi});
        const QList<QByteArray> long_ =
            RelayRules::relayedLines("[Ann] - " + QByteArray(500, 'a') + "\r\n", "Ann", "Ann");
        QCOMPARE(long_, (QList<QByteArray>{"[Ann] - " + QByteArray(400, 'a') + "\r\n" + '\0',
                                           "[Ann] - " + QByteArray(100, 'a') + "\r\n" + '\0'}));
    }

    void leaversStepOffTheStage()
    {
        QCOMPARE(RelayRules::offStageStep(3, "Nubo "),
                 QByteArray("Action3GoLeftNubo X-999Y480Z\0", 29));
        QCOMPARE(RelayRules::offStageStep(0), QByteArray("Action0GoLeftGimboX-999Y480Z\0", 29));
        QVERIFY(RelayRules::isOwnPacket(RelayRules::offStageStep(7).chopped(1), 7, "A"));
        // What the stage keeps of a step or answer it relays, for the leaver's
        // step off: told by the judgement itself.
        QCOMPARE(RelayRules::judge("Action1GoRightJaxo X1Y480Z", 1, "A").code, "Jaxo ");
        QCOMPARE(RelayRules::judge("Action1StLeftVeck X1", 1, "A").code, "Veck ");
        QCOMPARE(RelayRules::judge("Action1StRightSorraX1", 1, "A").code, "Sorra");
        QVERIFY(RelayRules::judge("Action1GoRightJaxo X1Y480Z", 2, "A").code.isNull());
    }

    void presenceAnswers()
    {
        QVERIFY(RelayRules::isPresenceAnswer("Action3StLeftGimboX1800"));
        QVERIFY(RelayRules::isPresenceAnswer("Action3StRightGimboX1800"));
        QVERIFY(!RelayRules::isPresenceAnswer("Action3GoLeftGimboX1800Y480Z"));
        QVERIFY(!RelayRules::isPresenceAnswer("[Ann] - Action3StLeft"));
    }
    void ownPackets()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, number);
        QFETCH(bool, own);
        QCOMPARE(RelayRules::isOwnPacket(body, number, "Ann"), own);
    }

    void notices()
    {
        QCOMPARE(RelayRules::notice("Ann joined the stage"),
                 QByteArray("[Quandrel] - Ann joined the stage\r\n\0", 36));
    }

    void noticeNamesHideEveryControlByte()
    {
        QByteArray controls;
        for (int b = 0; b < 0x20; ++b)
            controls += char(b);
        // DEL, the C1 bytes Windows-1252 leaves undefined, the no-break space,
        // the soft hyphen and the brackets.
        for (int b : {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0xA0, 0xAD, int('['), int(']')})
            controls += char(b);
        for (char c : controls) {
            const QByteArray name = QByteArray("a") + c + "b";
            QCOMPARE(RelayRules::noticeName(name), QByteArray("a?b"));
        }
        // The other bytes are letters and signs in Windows-1252 and stay.
        QByteArray printable;
        for (int b = 0x20; b <= 0xFF; ++b) {
            if (!controls.contains(char(b)))
                printable += char(b);
        }
        for (qsizetype i = 0; i < printable.size(); i += 32) {
            const QByteArray part = printable.mid(i, 32);
            QCOMPARE(RelayRules::noticeName(part), part);
        }
    }

    void noticeNamesAreShortAndNeverEmpty()
    {
        QCOMPARE(RelayRules::noticeName(""), QByteArray("Someone without a name"));
        QCOMPARE(RelayRules::noticeName(QByteArray(64, 'n')), QByteArray(64, 'n'));
        QCOMPARE(RelayRules::noticeName(QByteArray(65, 'n')), QByteArray(64, 'n') + "...");
    }
};

QTEST_APPLESS_MAIN(TestRelayRules)
#include "tst_relayrules.moc"
