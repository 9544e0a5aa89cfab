// SPDX-License-Identifier: MIT
#include "chat/TimeStamp.h"
#include "chat/Transcript.h"

#include <QTest>

// Local time and date lines, and the transcript's display form.
class TestTimeStamp : public QObject
{
    Q_OBJECT

    const QDateTime afternoon{QDate(2026, 12, 8), QTime(14, 5, 9)};

private slots:
    void lines_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("line");
        QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom)
                               << QStringLiteral("It is 14:05:09 on 08/12/2026\r\n");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                               << QStringLiteral("It is 2:05:09\u202FPM on 12/8/26\r\n");
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany)
                               << QStringLiteral("It is 14:05:09 on 08.12.26\r\n");
    }
    void lines()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, line);
        QString got = TimeStamp::line(afternoon, locale);
        // Locale data differ between Qt releases in the blank before "PM".
        got.replace(u' ', u'\u202F');
        line.replace(u' ', u'\u202F');
        QCOMPARE(got, line);
        QVERIFY(!TimeStamp::timeText(afternoon.time(), locale).contains(QStringLiteral("UTC")));
    }

    void connectedLine()
    {
        QCOMPARE(
            TimeStamp::connectedLine(afternoon, QLocale(QLocale::English, QLocale::UnitedKingdom)),
            QStringLiteral("Connected to the server at 14:05:09\r\n"));
    }

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

    void displayForm()
    {
        QCOMPARE(Transcript::displayText(QStringLiteral("a\r\nb\r\n")), QStringLiteral("a\nb\n"));
        QCOMPARE(Transcript::displayText(QString::fromLatin1("x\0y\rz", 5)),
                 QStringLiteral("xy\nz"));
    }
};

QTEST_APPLESS_MAIN(TestTimeStamp)
#include "tst_timestamp.moc"
