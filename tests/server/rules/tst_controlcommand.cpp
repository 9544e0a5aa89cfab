// SPDX-License-Identifier: MIT
#include "server/rules/ControlCommand.h"

#include <QTest>

using ControlCommand::Action;

// The operator's command lines: what each reads as, and every line that is
// no command, each with the word it gets.
class TestControlCommand : public QObject
{
    Q_OBJECT

private slots:
    void commands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("target");
        QTest::addColumn<qint64>("durationMs"); // -1: none
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("json");
        QTest::newRow("who") << "who" << Action::Who << "" << -1LL << "" << false;
        QTest::newRow("json status") << "json status" << Action::Status << "" << -1LL << "" << true;
        QTest::newRow("blanks around") << "  bans  " << Action::Bans << "" << -1LL << "" << false;
        QTest::newRow("kick") << "kick 3" << Action::Kick << "3" << -1LL << "" << false;
        QTest::newRow("kick, reason") << "kick 3 spamming the stage" << Action::Kick << "3" << -1LL
                                      << "spamming the stage" << false;
        QTest::newRow("mute, duration, reason")
            << "mute 9 10m calm down" << Action::Mute << "9" << 600000LL << "calm down" << false;
        QTest::newRow("mute, reason only")
            << "mute 9 calm down" << Action::Mute << "9" << -1LL << "calm down" << false;
        QTest::newRow("unmute") << "unmute 0" << Action::Unmute << "0" << -1LL << "" << false;
        QTest::newRow("ban an address for a day")
            << "ban 203.0.113.7 1d" << Action::Ban << "203.0.113.7" << 86400000LL << "" << false;
        QTest::newRow("ban a prefix") << "ban 2001:db8::/48 flood" << Action::Ban << "2001:db8::/48"
                                      << -1LL << "flood" << false;
        QTest::newRow("ban a number")
            << "ban 4 90s" << Action::Ban << "4" << 90000LL << "" << false;
        QTest::newRow("unban a name")
            << "unban name:Troll" << Action::Unban << "name:Troll" << -1LL << "" << false;
        QTest::newRow("say") << "say Back in 5 minutes" << Action::Say << "" << -1LL
                             << "Back in 5 minutes" << false;
        QTest::newRow("close, a word")
            << "close upgrading" << Action::Close << "" << -1LL << "upgrading" << false;
        QTest::newRow("open") << "open" << Action::Open << "" << -1LL << "" << false;
    }
    void commands()
    {
        QFETCH(QString, line);
        QFETCH(Action, action);
        QFETCH(QString, target);
        QFETCH(qint64, durationMs);
        QFETCH(QString, text);
        QFETCH(bool, json);
        const auto parsed = ControlCommand::parse(line);
        if (const QString *error = std::get_if<QString>(&parsed))
            QFAIL(qPrintable(*error));
        const auto &command = std::get<ControlCommand::Command>(parsed);
        QCOMPARE(command.action, action);
        QCOMPARE(command.target, target);
        QCOMPARE(command.durationMs.value_or(-1), durationMs);
        QCOMPARE(command.text, text);
        QCOMPARE(command.json, json);
    }

    void notCommands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("says");
        QTest::newRow("empty") << ""
                               << "no command";
        QTest::newRow("only json") << "json"
                                   << "no command";
        QTest::newRow("unknown") << "reboot now"
                                 << "unknown command \"reboot\"";
        QTest::newRow("kick without a number") << "kick"
                                               << "usage: kick N [REASON]";
        QTest::newRow("kick a name") << "kick Gimbo"
                                     << "\"Gimbo\" is no client number";
        QTest::newRow("kick 10") << "kick 10"
                                 << "\"10\" is no client number";
        QTest::newRow("bad duration") << "mute 1 5y"
                                      << "\"5y\" is no duration";
        QTest::newRow("past a year") << "ban 1.2.3.4 366d"
                                     << "\"366d\" is no duration";
        QTest::newRow("who takes nothing") << "who 3"
                                           << "usage: who";
        QTest::newRow("unmute takes no reason") << "unmute 1 now"
                                                << "usage: unmute N";
        QTest::newRow("say nothing") << "say   "
                                     << "usage: say TEXT";
        QTest::newRow("control byte") << QStringLiteral("say a\u0007b") << "control character";
        QTest::newRow("too long") << QString(1024, u'w') << "longer than 1023 bytes";
    }
    void notCommands()
    {
        QFETCH(QString, line);
        QFETCH(QString, says);
        const auto parsed = ControlCommand::parse(line);
        QVERIFY(std::holds_alternative<QString>(parsed));
        QVERIFY2(std::get<QString>(parsed).contains(says), qPrintable(std::get<QString>(parsed)));
    }

    void durations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms"); // -1: not a duration
        QTest::newRow("seconds") << "90s" << 90000LL;
        QTest::newRow("minutes") << "10m" << 600000LL;
        QTest::newRow("hours") << "2h" << 7200000LL;
        QTest::newRow("a year") << "365d" << 31536000000LL;
        QTest::newRow("past a year") << "8761h" << -1LL;
        QTest::newRow("zero") << "0s" << -1LL;
        QTest::newRow("no unit") << "90" << -1LL;
        QTest::newRow("no number") << "s" << -1LL;
        QTest::newRow("sign") << "-5m" << -1LL;
        QTest::newRow("huge") << "99999999999s" << -1LL;
    }
    void durations()
    {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        QCOMPARE(ControlCommand::durationMs(text).value_or(-1), ms);
    }
};

QTEST_GUILESS_MAIN(TestControlCommand)
#include "tst_controlcommand.moc"
