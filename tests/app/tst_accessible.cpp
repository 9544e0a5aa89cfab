// SPDX-License-Identifier: MIT
#include "FakeServer.h"
#include "TestForm.h"
#include "app/ImageControl.h"
#include "app/PictureBox.h"
#include "app/TranscriptBox.h"
#include "app/frmPref.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

// The window as assistive technology finds it: every control by its role and
// name, the avatar choice as a list, the stage as the list of who is on it,
// and every action by keyboard.
class TestAccessible : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<frmMain> form;

    static QAccessibleInterface *find(QAccessibleInterface *from, QAccessible::Role role,
                                      const QString &name)
    {
        if (from->role() == role && from->text(QAccessible::Name) == name)
            return from;
        for (int i = 0; i < from->childCount(); ++i) {
            if (QAccessibleInterface *child = from->child(i)) {
                if (QAccessibleInterface *found = find(child, role, name))
                    return found;
            }
        }
        return nullptr;
    }
    QAccessibleInterface *find(QAccessible::Role role, const QString &name) const
    {
        return find(QAccessible::queryAccessibleInterface(form.get()), role, name);
    }

    static QStringList names(QAccessibleInterface *list)
    {
        QStringList out;
        for (int i = 0; i < list->childCount(); ++i) {
            QAccessibleInterface *item = list->child(i);
            out.append(item->text(QAccessible::Name));
            // The tree holds together both ways.
            if (item->parent() != list || list->indexOfChild(item) != i)
                out.append(QStringLiteral("(not its own child)"));
        }
        return out;
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeServer>();
        form = makeTestForm(server->port());
        // As a screen reader coming does: the window names who is on the stage.
        QAccessible::setActive(true);
    }
    void cleanup()
    {
        form.reset();
        server.reset();
    }

    void everyControlByItsRoleAndName()
    {
        using R = QAccessible::Role;
        const QList<std::pair<R, QString>> controls = {
            {R::Button, QStringLiteral("Walk left")},
            {R::Button, QStringLiteral("Walk right")},
            {R::Button, QStringLiteral("Connect")},
            {R::Button, QStringLiteral("Time Stamp")},
            {R::Button, QStringLiteral("Preferences")},
            {R::EditableText, QStringLiteral("Message")},
            {R::EditableText, QStringLiteral("Transcript")},
            {R::EditableText, QStringLiteral("Server address")},
            {R::StaticText, QStringLiteral("Client number")},
            {R::StaticText, QStringLiteral("Position")},
            {R::List, QStringLiteral("Avatar")},
            {R::List, QStringLiteral("Stage")},
        };
        for (const auto &[role, name] : controls)
            QVERIFY2(find(role, name), qPrintable(name));
        // No caption of the layout stands for a name.
        for (const QString &caption : {QStringLiteral("Label5"), QStringLiteral("Left")})
            QVERIFY2(!find(R::StaticText, caption), qPrintable(caption));
        // The preferences' colour swatches are buttons.
        form->cmdPrefs_Click();
        QAccessibleInterface *pref = QAccessible::queryAccessibleInterface(form->pref());
        for (const QString &name : {QStringLiteral("Background colour of the chat"),
                                    QStringLiteral("Text colour of the chat")}) {
            QAccessibleInterface *swatch = find(pref, R::Button, name);
            QVERIFY2(swatch && swatch->actionInterface(), qPrintable(name));
        }
        // The readouts say what they show.
        QTRY_COMPARE(
            find(R::StaticText, QStringLiteral("Position"))->text(QAccessible::Description),
            QStringLiteral("1800"));
    }

    void theAvatarChoiceIsAListOfSix()
    {
        QAccessibleInterface *list = find(QAccessible::List, QStringLiteral("Avatar"));
        QVERIFY(list);
        QCOMPARE(names(list), (QStringList{"Tavro", "Gimbo", "Nubo", "Sorra", "Veck", "Jaxorin"}));
        auto selected = [list] {
            QStringList out;
            for (int i = 0; i < list->childCount(); ++i) {
                if (list->child(i)->state().selected)
                    out.append(list->child(i)->text(QAccessible::Name));
            }
            return out;
        };
        QCOMPARE(selected(), QStringList{"Gimbo"});
        // By keyboard: arrows move the choice, and stop at either end.
        form->Picture1->setFocus();
        QTest::keyClick(form->Picture1, Qt::Key_Right);
        QCOMPARE(form->WhoAreYou->text(), QStringLiteral("Nubo "));
        QCOMPARE(selected(), QStringList{"Nubo"});
        for (int i = 0; i < 8; ++i)
            QTest::keyClick(form->Picture1, Qt::Key_Left);
        QCOMPARE(selected(), QStringList{"Tavro"});
        // By assistive technology: the press action chooses.
        list->child(5)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(selected(), QStringList{"Jaxorin"});
        QCOMPARE(form->lblDisplayWhoYouAre->accessibleDescription(), QStringLiteral("Jaxorin"));
    }

    // Each new line alone, not the whole transcript again: what the box's
    // document changes is what assistive technology hears as inserted.
    void newLinesAreHeardAlone()
    {
        form->cmdConnection_Click();
        QVERIFY(server->waitForClient());
        QTRY_VERIFY(form->txtOutput->toPlainText().startsWith(u"Connected"));
        QStringList inserted;
        QTextDocument *document = form->txtOutput->document();
        connect(document, &QTextDocument::contentsChange, this,
                [&](int from, int removed, int added) {
                    QTextCursor cursor(document);
                    cursor.setPosition(from);
                    cursor.setPosition(from + added, QTextCursor::KeepAnchor);
                    inserted.append(QString::number(removed) + u' ' + cursor.selectedText());
                });
        server->send(QByteArray("[Bob] - hello there, all of you\r\n\0", 34));
        QTRY_COMPARE(inserted.size(), 1);
        server->send(QByteArray("[Bob] - and again\r\n\0", 20));
        QTRY_COMPARE(inserted.size(), 2);
        const QString breaks(2, QChar::ParagraphSeparator);
        QCOMPARE(inserted,
                 (QStringList{QStringLiteral("0 [Bob] - hello there, all of you") + breaks,
                              QStringLiteral("0 [Bob] - and again") + breaks}));
        QCOMPARE(form->txtOutput->toPlainText(), Transcript::displayText(form->txtOutput->Text()));
    }

    void theStageListsWhoIsOnIt()
    {
        QAccessibleInterface *stage = find(QAccessible::List, QStringLiteral("Stage"));
        QVERIFY(stage);
        QCOMPARE(names(stage), QStringList()); // nobody before connecting
        form->cmdConnection_Click();
        QVERIFY(server->waitForClient());
        server->send(QByteArray("ClientNumber1", 13));
        QTRY_VERIFY(form->session().numbered());
        server->send(QByteArray("Action1StLeftGimboX1800\0Action0StRightSorraX1600\0", 49));
        QTRY_COMPARE(names(stage),
                     (QStringList{"Client 0, Sorra, 4 steps left of you", "You, client 1, Gimbo"}));
        // Walking changes where the others stand, from the own avatar.
        form->Haps->setFocus();
        QTest::keyClick(form->Haps, Qt::Key_Right);
        QTRY_COMPARE(names(stage).first(), QStringLiteral("Client 0, Sorra, 5 steps left of you"));
        QTRY_COMPARE(form->Label5->text(), QStringLiteral("1850"));
        QTest::keyClick(form->Haps, Qt::Key_Left);
        QTRY_COMPARE(form->Label5->text(), QStringLiteral("1800"));
        server->send(QByteArray("Action0GoLeftSorraX1700Y480Z\0", 29));
        QTRY_COMPARE(names(stage).first(), QStringLiteral("Client 0, Sorra, 3 steps left of you"));
        // One who leaves steps off the stage, and is listed no more.
        server->send(QByteArray("Action0GoLeftSorraX-999Y480Z\0", 29));
        QTRY_COMPARE(names(stage), QStringList{"You, client 1, Gimbo"});
    }
};

QTEST_MAIN(TestAccessible)
#include "tst_accessible.moc"
