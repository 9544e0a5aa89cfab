// SPDX-License-Identifier: MIT
#include "chat/Transcript.h"

#include <QTest>

// The transcript's bound and its display form.
class TestTranscript : public QObject
{
    Q_OBJECT

private slots:
    void transcriptBound()
    {
        Transcript t;
        t.setText(QString(10000, u'x'));
        QCOMPARE(t.text().size(), 10000);
        t.append(u"y");
        QCOMPARE(t.text(), QString(999, u'x') + u'y');
        t.setText(QString(9001, u'a'));
        t.append(QString(1000, u'b'));
        QCOMPARE(t.text(), QString(1000, u'b'));
        // CR LF counts two: 9998 + CR LF is exactly 10000 and stays whole.
        t.setText(QString(9998, u'c'));
        t.append(u"\r\n");
        QCOMPARE(t.text().size(), 10000);
        t.append(u"d");
        QCOMPARE(t.text(), QString(997, u'c') + QStringLiteral("\r\nd"));
    }

    // Whoever shows the text adds what was appended, and shows it anew only
    // after a replacement.
    void appendsAreToldFromReplacements()
    {
        Transcript t;
        const quint64 start = t.replacements();
        t.append(u"a\r\n");
        t.append(QString(9000, u'b'));
        QCOMPARE(t.replacements(), start);
        t.append(QString(1000, u'c')); // past the bound: cut
        QCOMPARE(t.replacements(), start + 1);
        t.setText(QStringLiteral("new"));
        QCOMPARE(t.replacements(), start + 2);
    }

    void displayForm()
    {
        QCOMPARE(Transcript::displayText(QStringLiteral("a\r\nb\r\n")), QStringLiteral("a\nb\n"));
        QCOMPARE(Transcript::displayText(QString::fromLatin1("x\0y\rz", 5)),
                 QStringLiteral("xy\nz"));
    }
};

QTEST_APPLESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
