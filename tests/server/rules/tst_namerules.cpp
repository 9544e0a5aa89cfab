// SPDX-License-Identifier: MIT
#include "server/rules/NameRules.h"

#include <QTest>

// Which names may join, and when two names count as the same.
class TestNameRules : public QObject
{
    Q_OBJECT

private slots:
    void lookAlikes_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::newRow("case") << QByteArray("Victim") << QByteArray("vICTIM");
        QTest::newRow("blanks") << QByteArray("Vic tim") << QByteArray(" Victim\t");
        QTest::newRow("capital i for l") << QByteArray("QuandreI") << QByteArray("Quandrel");
        QTest::newRow("one for l") << QByteArray("Quandre1") << QByteArray("quandrel");
        QTest::newRow("bar for l") << QByteArray("Quandre|") << QByteArray("quandrel");
        QTest::newRow("zero for o") << QByteArray("B0b") << QByteArray("bob");
        QTest::newRow("five for s") << QByteArray("5am") << QByteArray("Sam");
        QTest::newRow("accents") << QByteArray("Qu\xE0ndr\xE9l") << QByteArray("Quandrel");
        QTest::newRow("Windows-1252 S caron") << QByteArray("\x8A"
                                                            "am")
                                              << QByteArray("Sam");
    }
    void lookAlikes()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QCOMPARE(NameRules::lookAlike(a), NameRules::lookAlike(b));
    }

    void differentNames()
    {
        QVERIFY(NameRules::lookAlike("Ann") != NameRules::lookAlike("Anna"));
        QVERIFY(NameRules::lookAlike("Bob") != NameRules::lookAlike("Rob"));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("why");
        QTest::newRow("fine") << QByteArray("Ann") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("32") << QByteArray(32, 'n') << QByteArray();
        QTest::newRow("33") << QByteArray(33, 'n') << QByteArray("longer than 32");
        QTest::newRow("line break")
            << QByteArray("Alice] - bye\r\n[Quandrel") << QByteArray("does not show");
        QTest::newRow("bracket") << QByteArray("Alice] - bye") << QByteArray("bracket");
        QTest::newRow("open bracket") << QByteArray("[Bob") << QByteArray("bracket");
        QTest::newRow("soft hyphen") << QByteArray("Quan\xAD"
                                                   "drel")
                                     << QByteArray("does not show");
        QTest::newRow("no-break space")
            << QByteArray("Quandrel\xA0") << QByteArray("does not show");
        QTest::newRow("DEL") << QByteArray("a\x7F") << QByteArray("does not show");
        // Each byte Windows-1252 leaves undefined, anywhere in a name.
        for (const char b : {'\x81', '\x8D', '\x8F', '\x90', '\x9D'}) {
            QTest::addRow("undefined 0x%X after", uint(static_cast<unsigned char>(b)))
                << QByteArray("Ann") + b << QByteArray("does not show");
            QTest::addRow("undefined 0x%X alone", uint(static_cast<unsigned char>(b)))
                << QByteArray(1, b) << QByteArray("does not show");
        }
        QTest::newRow("the server") << QByteArray("Quandrel") << QByteArray("stage's own");
        QTest::newRow("the server, loosely")
            << QByteArray(" QUANDREI ") << QByteArray("stage's own");
        QTest::newRow("letters around it") << QByteArray("Quandrels") << QByteArray();
    }
    void refusals()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, why);
        const auto refusal = NameRules::refusal(name);
        QCOMPARE(refusal.has_value(), !why.isEmpty());
        if (refusal) {
            QVERIFY2(refusal->contains(why), refusal->constData());
            QVERIFY2(refusal->startsWith("The name "), refusal->constData());
            // What the refused one is told shows nothing that does not show.
            for (char c : *refusal)
                QVERIFY(static_cast<unsigned char>(c) >= 0x20 && c != '[' && c != ']');
        }
    }
};

QTEST_APPLESS_MAIN(TestNameRules)
#include "tst_namerules.moc"
