// SPDX-License-Identifier: MIT
#include "server/rules/LookAlike.h"
#include "server/rules/NameRules.h"

#include <QTest>

// Which names may join, and when two names count as the same.
class TestNameRules : public QObject
{
    Q_OBJECT

    const LookAlike look;

private slots:
    // Each pair must count as one name: the first as the stage or someone on
    // it, the second as whoever would pose as them.
    void lookAlikes_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        const auto same = [](const char *a, const QByteArray &b) {
            QTest::addRow("%s ~ %s", a, b.toHex().constData()) << QByteArray(a) << b;
        };
        for (const QByteArray &b :
             {QByteArray("Quandrel."), QByteArray("Quandrel\x82"), QByteArray("Quandrel\x88"),
              QByteArray("Quandrel\xB7"), QByteArray("Quandrel'"), QByteArray("Quanclrel"),
              QByteArray("Quan\xD0rel"), QByteArray("Quan\xF0rel"), QByteArray("Quandre\xA1"),
              QByteArray(" QUANDREL "), QByteArray("Quandre1"), QByteArray("Quandre|"),
              QByteArray("Qu\xE0ndr\xE9l"),
              // The skeleton maps a capital I but not a small i: folding the
              // case only before it would let this one through...
              QByteArray("QuandreI")})
            same("Quandrel", b);
        // ...and folding it only after the skeleton would let this one through.
        for (const QByteArray &b :
             {QByteArray("VICTIM"), QByteArray("vICTIM"), QByteArray("Victirn"),
              QByteArray("\\/ictim"), QByteArray("Victim."), QByteArray("Vic tim\t")})
            same("Victim", b);
        for (const QByteArray &b : {QByteArray("Sarn"), QByteArray("5am"),
                                    QByteArray("\x8A"
                                               "am")})
            same("Sam", b);
        same("Willow", "VVillow");
        same("Dora", "\xD0ora");
        same("Dora", "Clora");
        same("Oscar", "\xD8scar");
        same("Russ", "Ru\xDF");
        same("Bob", "B0b");
        for (const QByteArray &b :
             {QByteArray("Tr\xF8ll"), QByteArray("Troll."), QByteArray("Tr\xB0ll"),
              QByteArray("tr0ll"), QByteArray("Tro|l")})
            same("Troll", b);
    }
    void lookAlikes()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QCOMPARE(look.of(b), look.of(a));
    }

    void differentNames_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        const std::pair<const char *, const char *> pairs[] = {
            {"Ann", "Anna"},   {"Sam", "Pam"},    {"Dora", "Nora"},    {"Bob", "Rob"},
            {"Victim", "Vic"}, {"Oscar", "Osca"}, {"Willow", "Willa"}, {"Troll", "Trolley"},
        };
        for (const auto &[a, b] : pairs)
            QTest::addRow("%s, %s", a, b) << QByteArray(a) << QByteArray(b);
    }
    void differentNames()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QVERIFY(look.of(a) != look.of(b));
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
        QTest::newRow("the server, by look")
            << QByteArray("Quan\xD0rel.") << QByteArray("stage's own");
        // Anything that begins like it reads as the stage speaking.
        QTest::newRow("letters after it") << QByteArray("Quandrels") << QByteArray("stage's own");
        QTest::newRow("a number after it") << QByteArray("Quandrel 2") << QByteArray("stage's own");
        QTest::newRow("a superscript two")
            << QByteArray("Quandrel\xB2") << QByteArray("stage's own");
        QTest::newRow("a superscript one")
            << QByteArray("Quandrel\xB9") << QByteArray("stage's own");
        QTest::newRow("a broken bar") << QByteArray("Quandre\xA6") << QByteArray("stage's own");
        QTest::newRow("letters before it") << QByteArray("MrQuandrel") << QByteArray();
        QTest::newRow("a part of it") << QByteArray("Quandr") << QByteArray();
    }
    void refusals()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, why);
        const auto refusal = NameRules::refusal(name, look);
        QCOMPARE(refusal.has_value(), !why.isEmpty());
        if (refusal) {
            QVERIFY2(refusal->contains(why), refusal->constData());
            QVERIFY2(refusal->startsWith("The name "), refusal->constData());
            // What the refused one is told shows nothing that does not show.
            for (char c : *refusal)
                QVERIFY(static_cast<unsigned char>(c) >= 0x20 && c != '[' && c != ']');
        }
    }

    // Who joins under a name already on the stage is shown under one of its
    // own; the names on the stage are given, the joiner last.
    void shownNames_data()
    {
        QTest::addColumn<QByteArrayList>("onStage");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("free") << QByteArrayList{"Ann"} << QByteArray("Gimbo")
                              << QByteArray("Gimbo");
        QTest::newRow("second") << QByteArrayList{"Gimbo"} << QByteArray("Gimbo")
                                << QByteArray("Gimbo 2");
        QTest::newRow("the lowest free")
            << QByteArrayList{"Gimbo", "Gimbo 3"} << QByteArray("Gimbo") << QByteArray("Gimbo 2");
        QTest::newRow("by look") << QByteArrayList{"Gimbo", "Gimbo 2"} << QByteArray("GIMB0")
                                 << QByteArray("GIMB0 3");
        QTest::newRow("trailing blanks")
            << QByteArrayList{"Nubo "} << QByteArray("Nubo ") << QByteArray("Nubo 2");
        QTest::newRow("empty") << QByteArrayList{""} << QByteArray() << QByteArray("2");
        QTest::newRow("a shown name taken by a name")
            << QByteArrayList{"Gimbo", "Gimbo 2"} << QByteArray("Gimbo 2")
            << QByteArray("Gimbo 2 2");
        QTest::newRow("cut to fit") << QByteArrayList{QByteArray(32, 'a')} << QByteArray(32, 'a')
                                    << QByteArray(30, 'a') + " 2";
        QTest::newRow("cut at a blank") << QByteArrayList{QByteArray(30, 'a') + " b"}
                                        << QByteArray(30, 'a') + " b" << QByteArray(30, 'a') + " 2";
    }
    void shownNames()
    {
        QFETCH(QByteArrayList, onStage);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, shown);
        QStringList looks;
        for (const QByteArray &other : onStage)
            looks.append(look.of(other));
        const QByteArray out = NameRules::shownName(
            name, [&](QByteArrayView candidate) { return looks.contains(look.of(candidate)); });
        QCOMPARE(out, shown);
        QVERIFY(out.size() <= NameRules::MaxLength);
    }
};

QTEST_APPLESS_MAIN(TestNameRules)
#include "tst_namerules.moc"
