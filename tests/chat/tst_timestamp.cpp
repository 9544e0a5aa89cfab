// SPDX-License-Identifier: MIT
#include "chat/TimeStamp.h"

#include <QTest>

// Local time and date lines.
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
        QCOMPARE(TimeStamp::connectedLine(afternoon,
                                          QLocale(QLocale::English, QLocale::UnitedKingdom), true),
                 QStringLiteral("Connected to the server at 14:05:09, encrypted\r\n"));
    }
};

QTEST_APPLESS_MAIN(TestTimeStamp)
#include "tst_timestamp.moc"
