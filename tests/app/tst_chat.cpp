// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "TestForm.h"
#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "app/frmPref.h"
#include "net/Wsk.h"
#include "server/carriers/StageDoor.h"
#include "server/stage/StageServer.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <memory>

// Chat entry, the transcript's housekeeping, the time stamp and the colours.
class TestChat : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<frmMain> form;

    void connectAs(const QString &name)
    {
        QStringList answers = {name, QStringLiteral("127.0.0.1")};
        form->setPrompt([answers](const QString &, const QString &, const QString &) mutable {
            return answers.takeFirst();
        });
        form->mnuConnect_Click();
        QVERIFY(server->waitForClient());
        QTRY_COMPARE(form->session().State(), 7);
        QVERIFY(server->waitForBytes(name.size() + 2));
        server->received.clear();
    }

    static void postKey(QWidget *to, Qt::Key key, const QString &text)
    {
        QCoreApplication::postEvent(to, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
        QCoreApplication::postEvent(to,
                                    new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeServer>();
        form = makeTestForm(server->port());
        form->setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)); });
        form->setTimeLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup()
    {
        form.reset();
        server.reset();
    }

    void enterSendsTheLineUnchanged()
    {
        connectAs(QStringLiteral("Ann"));
        form->txtInput->setFocus();
        QTest::keyClicks(form->txtInput, QStringLiteral("hi"));
        QTest::keyClick(form->txtInput, Qt::Key_Return);
        QCOMPARE(server->take(14), QByteArray("\x02[Ann] - hi\r\n\0", 14));
        QCOMPARE(form->txtInput->text(), QString());
        QCOMPARE(form->txtOutput->Text(),
                 QStringLiteral("Connected to the server at 14:05:09\r\n"));

        form->txtInput->setText(QStringLiteral("  [x] -\u00E9\t "));
        form->txtInput_KeyPress(13);
        QCOMPARE(server->take(22), QByteArray("\x02[Ann] -   [x] -\xE9\t \r\n\0", 22));
        QCOMPARE(form->txtInput->text(), QString());
    }

    // What the server would refuse never leaves the box, and the box itself
    // says why, for whoever reads it with a screen reader.
    void aRefusedLineStaysInTheBox()
    {
        connectAs(QStringLiteral("Ann"));
        form->txtInput->setText(QStringLiteral("see [1] - intro"));
        form->txtInput_KeyPress(13);
        QCOMPARE(form->txtInput->text(), QStringLiteral("see [1] - intro"));
        const QString why =
            QStringLiteral("Not sent: \"] - \" would look like someone else speaking");
        QVERIFY(form->txtOutput->Text().endsWith(why + QStringLiteral("\r\n")));
        QCOMPARE(form->txtInput->accessibleDescription(), why);
        form->txtInput->setText(QStringLiteral("see [1], intro"));
        form->txtInput_KeyPress(13);
        QCOMPARE(server->take(23), QByteArray("\x02[Ann] - see [1], intro\r\n\0", 23));
        QCOMPARE(form->txtInput->text(), QString());
        QCOMPARE(form->txtInput->accessibleDescription(), QString());
    }

    void nothingGoesOutEmptyOrClosed()
    {
        form->txtInput->setText(QStringLiteral("kept"));
        form->txtInput_KeyPress(13); // closed: the line stays
        QCOMPARE(form->txtInput->text(), QStringLiteral("kept"));
        connectAs(QStringLiteral("Ann"));
        form->txtInput->clear();
        form->txtInput_KeyPress(13);
        form->txtInput->setText(QStringLiteral("x"));
        form->txtInput_KeyPress(65); // not Enter
        QCOMPARE(server->take(0), QByteArray());
        QCOMPARE(form->txtInput->text(), QStringLiteral("x"));
    }

    void aQueuedEnterDoesNotSendTwiceAndTypingIsKept()
    {
        connectAs(QStringLiteral("Ann"));
        form->txtInput->setFocus();
        form->txtInput->setText(QStringLiteral("once"));
        form->txtInput->end(false);
        // Keys already waiting when the send lets pending events run.
        postKey(form->txtInput, Qt::Key_Return, QStringLiteral("\r"));
        postKey(form->txtInput, Qt::Key_X, QStringLiteral("x"));
        form->txtInput_KeyPress(13);
        QCOMPARE(server->take(16), QByteArray("\x02[Ann] - once\r\n\0", 16));
        QTest::qWait(50);
        QCOMPARE(server->take(0), QByteArray());
        QCOMPARE(form->txtInput->text(), QStringLiteral("x"));
    }

    void transcriptKeepsItsNewestText()
    {
        form->txtOutput->setText(QString(10000, u'a'));
        QCOMPARE(form->txtOutput->Text().size(), 10000);
        QCOMPARE(form->txtOutput->SelStart(), 10000);
        // CR LF counts as two characters: 9998 + CR LF + one more is 10001.
        form->txtOutput->setText(QString(9998, u'a') + QStringLiteral("\r\nb"));
        QCOMPARE(form->txtOutput->Text().size(), 1000);
        QCOMPARE(form->txtOutput->Text().right(3), QStringLiteral("\r\nb"));
        QCOMPARE(form->txtOutput->SelStart(), 1000);
        // The box shows it from the next turn of the event loop on.
        QTRY_COMPARE(form->txtOutput->textCursor().position(),
                     form->txtOutput->document()->characterCount() - 1);
        // A received line goes through the same housekeeping.
        connectAs(QStringLiteral("Ann"));
        form->txtOutput->setText(QString(9990, u'c'));
        server->send(QByteArray("[Bob] - twelve\r\n\0", 17));
        QTRY_COMPARE(form->txtOutput->Text().size(), 1000);
        QVERIFY(form->txtOutput->Text().endsWith(QStringLiteral("[Bob] - twelve\r\n\r\n")));
    }

    void theTranscriptNeverKeepsTheFocus()
    {
        form->txtOutput->setFocus(Qt::MouseFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), form->txtInput);
        QTest::mouseClick(form->txtOutput->viewport(), Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), form->txtInput);
        // Backwards from the entry box lands on the transcript, which hands it back.
        QTest::keyClick(form->txtInput, Qt::Key_Backtab);
        QTRY_COMPARE(QApplication::focusWidget(), form->txtInput);
    }

    void timeStampFromTheKeyboard()
    {
        connectAs(QStringLiteral("Ann"));
        form->txtOutput->setText(QString());
        form->txtInput->setFocus();
        QTest::keyClick(form->txtInput, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), form->cmdTimeStamp);
        QTest::keyClick(form->cmdTimeStamp, Qt::Key_Space);
        QCOMPARE(form->txtOutput->Text(), QStringLiteral("It is 14:05:09 on 08/12/2026\r\n"));
        form->cmdTimeStamp_Click();
        QCOMPARE(form->txtOutput->Text().count(QStringLiteral("It is ")), 2);
        QCOMPARE(server->take(0), QByteArray()); // nothing goes to the server
        form->mnuDisconnect_Click();
        form->cmdTimeStamp_Click();
        QCOMPARE(form->txtOutput->Text().count(QStringLiteral("It is ")), 3);
        // Enter presses a focused button as Space does, every button alike.
        form->cmdTimeStamp->setFocus();
        QTest::keyClick(form->cmdTimeStamp, Qt::Key_Return);
        QTRY_COMPARE(form->txtOutput->Text().count(QStringLiteral("It is ")), 4);
        form->cmdPrefs->setFocus();
        QTest::keyClick(form->cmdPrefs, Qt::Key_Enter);
        QTRY_VERIFY(form->pref() && form->pref()->isVisible());
    }

    void aLineThatCannotGoOutStaysInTheBox()
    {
        const quint16 nobody = FakeServer().port();
        form->session().setDefaultPort(nobody);
        form->cmdConnection_Click();
        QTRY_COMPARE(form->session().State(), 9);
        form->txtOutput->setText(QString());
        form->txtInput->setText(QStringLiteral("are you there?"));
        QTest::keyClick(form->txtInput, Qt::Key_Return);
        QCOMPARE(form->txtInput->text(), QStringLiteral("are you there?"));
        QCOMPARE(form->txtOutput->Text(),
                 QStringLiteral("Not sent, the connection is not open: are you there?\r\n"));
    }

    void aBurstOfLinesRepaintsOnce()
    {
        connectAs(QStringLiteral("Ann"));
        QTRY_VERIFY(form->txtOutput->toPlainText().startsWith(QStringLiteral("Connected")));
        QSignalSpy repaints(form->txtOutput, &QPlainTextEdit::textChanged);
        QByteArray burst;
        for (int i = 0; i < 2000; ++i)
            burst += "[Bob] - line " + QByteArray::number(i) + "\r\n" + '\0';
        server->send(burst);
        QTRY_VERIFY(form->txtOutput->toPlainText().endsWith(QStringLiteral("line 1999\n\n")));
        QVERIFY2(repaints.size() <= 5, qPrintable(QString::number(repaints.size())));
    }

    void preferences()
    {
        form->cmdPrefs_Click();
        frmPref *pref = form->pref();
        QVERIFY(pref && pref->isVisible());
        QVERIFY(pref->windowFlags() & Qt::Tool);
        QCOMPARE(pref->size(), QSize(216, 67));
        QCOMPARE(pref->windowTitle(), QStringLiteral("Preferences"));
        form->cmdPrefs_Click();
        QCOMPARE(form->pref(), pref); // one window
        QCOMPARE(pref->picBGColor->BackColor(), QColor(0, 255, 255));
        QCOMPARE(pref->picTextColor->BackColor(), QColor(0, 0, 255));

        QList<QColor> offered;
        std::optional<QColor> answer = QColor(10, 20, 30);
        pref->CDColor.setChooser([&](const QColor &initial) {
            offered.append(initial);
            return answer;
        });
        QTest::mouseClick(pref->picBGColor, Qt::LeftButton);
        QCOMPARE(offered.value(0),
                 QColor(0, 255, 255)); // the chooser starts at the swatch's colour
        QCOMPARE(pref->picBGColor->BackColor(), QColor(10, 20, 30));
        QCOMPARE(form->txtInput->palette().color(QPalette::Base), QColor(10, 20, 30));
        QCOMPARE(form->txtOutput->palette().color(QPalette::Base), QColor(10, 20, 30));
        QCOMPARE(pref->CDColor.Color, quint32(10 | 20 << 8 | 30 << 16));

        answer = QColor(200, 100, 0);
        pref->picTextColor_Click();
        QCOMPARE(form->txtOutput->palette().color(QPalette::Text), QColor(200, 100, 0));
        QCOMPARE(form->txtInput->palette().color(QPalette::Text), QColor(200, 100, 0));
        // The frames keep the system's colours.
        const QPalette system = QApplication::palette();
        for (QWidget *box :
             {static_cast<QWidget *>(form->txtInput), static_cast<QWidget *>(form->txtOutput)}) {
            QCOMPARE(box->palette().color(QPalette::Window), system.color(QPalette::Window));
            QCOMPARE(box->palette().color(QPalette::Button), system.color(QPalette::Button));
        }
        // The swatches take the focus in turn and are chosen from the keyboard.
        answer = QColor(1, 2, 3);
        pref->activateWindow();
        pref->picBGColor->setFocus();
        QTest::keyClick(pref->picBGColor, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), pref->picTextColor);
        QTest::keyClick(pref->picTextColor, Qt::Key_Space);
        QCOMPARE(form->txtInput->palette().color(QPalette::Text), QColor(1, 2, 3));
        answer = QColor(200, 100, 0);
        QTest::keyClick(pref->picTextColor, Qt::Key_Return);
        QCOMPARE(form->txtInput->palette().color(QPalette::Text), QColor(200, 100, 0));

        answer.reset(); // cancel: nothing changes
        pref->picBGColor_Click();
        QCOMPARE(pref->picBGColor->BackColor(), QColor(10, 20, 30));
        QCOMPARE(form->txtOutput->palette().color(QPalette::Base), QColor(10, 20, 30));

        // Closed and opened again: the swatches show the boxes' colours.
        pref->close();
        QVERIFY(!pref->isVisible());
        pref->picBGColor->setBackColor(Qt::red);
        form->cmdPrefs_Click();
        QCOMPARE(form->pref(), pref);
        QVERIFY(pref->isVisible());
        QCOMPARE(pref->picBGColor->BackColor(), QColor(10, 20, 30));
        QCOMPARE(pref->picTextColor->BackColor(), QColor(200, 100, 0));
        // The main window goes on working meanwhile.
        form->cmdTimeStamp_Click();
        QVERIFY(form->txtOutput->Text().contains(QStringLiteral("It is ")));
    }

    void twoClientsChatThroughTheServer()
    {
        StageServer stage;
        stage.setLog([](const QString &) {});
        StageDoor door(stage);
        QVERIFY(door.listen(QHostAddress::LocalHost, 0));
        frmMain b;
        b.session().setDefaultPort(door.port());
        b.setEndProgram([] {});
        b.Form_Load();
        b.Sorra_Click(); // the button joins under the avatar's name: one Gimbo a stage
        form->session().setDefaultPort(door.port());
        form->cmdConnection_Click();
        b.cmdConnection_Click();
        QTRY_COMPARE(stage.joinedCount(), 2);
        form->txtInput->setText(QStringLiteral("hello B"));
        form->txtInput_KeyPress(13);
        const QString line = QStringLiteral("[Gimbo] - hello B\r\n\r\n");
        QTRY_VERIFY(b.txtOutput->Text().contains(line));
        QTRY_VERIFY(form->txtOutput->Text().contains(line));
        QTest::qWait(50);
        QCOMPARE(b.txtOutput->Text().count(line), 1);
        QCOMPARE(form->txtOutput->Text().count(line), 1);
    }
};

QTEST_MAIN(TestChat)
#include "tst_chat.moc"
