// SPDX-License-Identifier: MIT
#include "CaseFile.h"
#include "chat/ChatRules.h"

#include <QTest>

// The rules a chat line is held to before it is sent, from the cases the
// server and the page run too (tests/cases/chatlines.json).
class TestChatRules : public QObject
{
    Q_OBJECT

    static void rows(const char *list)
    {
        QTest::addColumn<QJsonObject>("row");
        for (const QJsonValue &row :
             CaseFile::load(QStringLiteral("chatlines.json"))[list].toArray())
            QTest::newRow(qPrintable(row[u"name"].toString())) << row.toObject();
    }

private slots:
    void refusals_data() { rows("lines"); }
    void refusals()
    {
        QFETCH(QJsonObject, row);
        const auto why = ChatRules::refusal(CaseFile::bytes(row[u"text"]));
        QCOMPARE(why.value_or(QByteArray()), row[u"refused"].toString().toLatin1());
    }

    void outgoing_data() { rows("outgoing"); }
    void outgoing()
    {
        QFETCH(QJsonObject, row);
        const ChatRules::Outgoing out =
            ChatRules::outgoing(CaseFile::bytes(row[u"user"]), CaseFile::bytes(row[u"text"]));
        QByteArrayList want;
        for (const QJsonValue &text : row[u"texts"].toArray())
            want.append(CaseFile::bytes(text));
        QCOMPARE(out.texts, want);
        QCOMPARE(out.refusal, row[u"refused"].toString().toLatin1());
    }

    void everyLineFitsItsPacket()
    {
        // Whatever the text, each line goes within the server's bound, and
        // the lines carry every word of it in order.
        for (const qsizetype length : {4083, 4084, 9000, 20000}) {
            QByteArray text;
            for (int word = 0; text.size() < length; ++word)
                text += QByteArray::number(word) + (word % 7 ? " " : "  ");
            text.truncate(length);
            const ChatRules::Outgoing out = ChatRules::outgoing("Gimbo", text);
            QVERIFY(out.refusal.isEmpty());
            for (const QByteArray &piece : out.texts)
                QVERIFY(piece.size() <= ChatRules::roomFor("Gimbo"));
            QCOMPARE(out.texts.join(' ').simplified(), text.simplified());
        }
    }
};

QTEST_GUILESS_MAIN(TestChatRules)
#include "tst_chatrules.moc"
