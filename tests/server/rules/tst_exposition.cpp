// SPDX-License-Identifier: MIT
#include "server/rules/Exposition.h"
#include "server/rules/StageFigures.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <cmath>
#include <limits>

// The figures as Prometheus reads them: the text format's escaping and
// numbers, and the stage's families with their names, types and labels.
class TestExposition : public QObject
{
    Q_OBJECT

private slots:
    void escapesHelpAndLabels_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("help");
        QTest::addColumn<QByteArray>("label");
        QTest::newRow("plain") << QByteArray("a b") << QByteArray("a b") << QByteArray("a b");
        QTest::newRow("backslash")
            << QByteArray("a\\b") << QByteArray("a\\\\b") << QByteArray("a\\\\b");
        QTest::newRow("line feed")
            << QByteArray("a\nb") << QByteArray("a\\nb") << QByteArray("a\\nb");
        // Only a label value is quoted, so only there is a quote escaped.
        QTest::newRow("quote") << QByteArray("say \"hi\"") << QByteArray("say \"hi\"")
                               << QByteArray("say \\\"hi\\\"");
        QTest::newRow("all") << QByteArray("\\\"\n") << QByteArray("\\\\\"\\n")
                             << QByteArray("\\\\\\\"\\n");
    }
    void escapesHelpAndLabels()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, help);
        QFETCH(QByteArray, label);
        QCOMPARE(Exposition::escapedHelp(text), help);
        QCOMPARE(Exposition::escapedLabel(text), label);
    }

    void writesNumbersAsPrometheusParsesThem_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("zero") << 0.0 << QByteArray("0");
        QTest::newRow("whole") << 42.0 << QByteArray("42");
        QTest::newRow("negative") << -3.0 << QByteArray("-3");
        QTest::newRow("past 2^32, exact") << 1099511627776.0 << QByteArray("1099511627776");
        QTest::newRow("fraction") << 1.5 << QByteArray("1.5");
        QTest::newRow("past 2^53") << 1e20 << QByteArray("1e+20");
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << QByteArray("+Inf");
        QTest::newRow("minus infinity")
            << -std::numeric_limits<double>::infinity() << QByteArray("-Inf");
        QTest::newRow("not a number") << std::nan("") << QByteArray("NaN");
    }
    void writesNumbersAsPrometheusParsesThem()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, text);
        QCOMPARE(Exposition::number(value), text);
    }

    void writesAFamilyThenItsSamples()
    {
        Exposition out;
        out.family("x_total", Exposition::Type::Counter, "Things.\nMany.");
        out.sample({}, 1);
        out.sample({{"a", "1"}, {"b", "q\""}}, 2);
        out.family("y", Exposition::Type::Gauge, "Y.");
        out.sample({{"a", "x"}}, 0.25);
        QCOMPARE(out.text(), QByteArray("# HELP x_total Things.\\nMany.\n"
                                        "# TYPE x_total counter\n"
                                        "x_total 1\n"
                                        "x_total{a=\"1\",b=\"q\\\"\"} 2\n"
                                        "# HELP y Y.\n"
                                        "# TYPE y gauge\n"
                                        "y{a=\"x\"} 0.25\n"));
    }

    // Every family once, with its HELP and TYPE before its samples, names as
    // Prometheus would have them, and no label but the stage's own, a reason
    // or a kind: nothing that could name a participant.
    void theStageFiguresFollowTheConventions()
    {
        StageFigures figures;
        figures.stage = 2601;
        const QList<QByteArray> lines = figures.exposition().split('\n');
        QVERIFY(lines.last().isEmpty()); // ends with a line feed
        static const QRegularExpression name(QStringLiteral("^[a-zA-Z_:][a-zA-Z0-9_:]*$"));
        static const QRegularExpression sample(
            QStringLiteral(R"(^([a-z_]+)(\{([a-z_]+="[a-z_0-9]*",?)*\})? \S+$)"));
        static const QRegularExpression label(QStringLiteral(R"(([a-z_]+)=)"));
        QSet<QByteArray> helped;
        QSet<QByteArray> typed;
        QByteArray current;
        for (const QByteArray &line : lines.sliced(0, lines.size() - 1)) {
            const QList<QByteArray> words = line.split(' ');
            if (line.startsWith("# HELP ")) {
                QVERIFY2(!helped.contains(words[2]), line);
                helped.insert(words[2]);
                current = words[2];
                QVERIFY2(name.match(QString::fromLatin1(current)).hasMatch(), line);
                QVERIFY2(current.startsWith("quandrel_") || current.startsWith("process_"), line);
            } else if (line.startsWith("# TYPE ")) {
                QCOMPARE(words[2], current);
                QVERIFY(!typed.contains(current));
                typed.insert(current);
                QCOMPARE(current.endsWith("_total"), words[3] == "counter");
                QVERIFY2(words[3] == "counter" || words[3] == "gauge", line);
            } else {
                const auto match = sample.match(QString::fromLatin1(line));
                QVERIFY2(match.hasMatch(), line);
                QCOMPARE(match.captured(1).toLatin1(), current);
                QVERIFY2(typed.contains(current), line);
                for (auto it = label.globalMatch(match.captured(2)); it.hasNext();) {
                    const QString key = it.next().captured(1);
                    QVERIFY2(key == u"stage" || key == u"reason" || key == u"kind" ||
                                 key == u"action",
                             line);
                }
                QCOMPARE(current.startsWith("quandrel_"), line.contains("stage=\"2601\""));
            }
        }
        QCOMPARE(helped, typed);
        QVERIFY(typed.contains("quandrel_refusals_total"));
        QVERIFY(typed.contains("process_resident_memory_bytes"));
    }

    void theFiguresSayWhatHappened()
    {
        StageFigures figures;
        figures.stage = 2579;
        figures.placesTaken = 3;
        figures.places = 10;
        figures.counters.joins = 5;
        figures.counters.leaves = 2;
        figures.counters.relayedBytes = 4'000'000'000;
        figures.counters.refused(StageCounters::Refusal::Flood);
        figures.counters.refused(StageCounters::Refusal::Flood);
        figures.counters.refused(StageCounters::Refusal::WaitingPool);
        figures.connections[std::size_t(StageFigures::Carrier::WebSocket)] = 4;
        figures.process.residentBytes = 12'345'678;
        const QByteArray text = figures.exposition();
        for (const char *line : {
                 "quandrel_places_taken{stage=\"2579\"} 3\n",
                 "quandrel_places{stage=\"2579\"} 10\n",
                 "quandrel_joins_total{stage=\"2579\"} 5\n",
                 "quandrel_leaves_total{stage=\"2579\"} 2\n",
                 "quandrel_relayed_bytes_total{stage=\"2579\"} 4000000000\n",
                 "quandrel_refusals_total{stage=\"2579\",reason=\"flood\"} 2\n",
                 "quandrel_refusals_total{stage=\"2579\",reason=\"waiting_pool\"} 1\n",
                 "quandrel_refusals_total{stage=\"2579\",reason=\"cross_site\"} 0\n",
                 "quandrel_connections{stage=\"2579\",kind=\"websocket\"} 4\n",
                 "quandrel_connections{stage=\"2579\",kind=\"page\"} 0\n",
                 "process_resident_memory_bytes 12345678\n",
             })
            QVERIFY2(text.contains(line), line);
        // Every reason and every kind, even at zero, so that a rate exists from the start.
        QCOMPARE(text.count("quandrel_refusals_total{"), 10);
        QCOMPARE(text.count("quandrel_moderation_total{"), 11);
        QCOMPARE(text.count("quandrel_connections{"), 4);
    }
};

QTEST_APPLESS_MAIN(TestExposition)
#include "tst_exposition.moc"
