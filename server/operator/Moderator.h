// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/ControlCommand.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

class Reloader;
class StageServer;

// The operator's commands, carried out on the stage and its ban file. Every
// answer is a first line ("ok", "ok: ..." or "error: ..."), the lines of a
// list if it has one, and an empty line; or, asked for JSON, one line of it
// and an empty line.
class Moderator
{
public:
    using Log = std::function<void(const QString &line)>;
    // Who sent a command, as the socket's credentials say.
    struct Caller
    {
        qint64 uid = -1;
        qint64 pid = -1;
    };
    // The longest answer: ten places, sixty-four waiting and the bans
    // shown, each a short line.
    static constexpr qsizetype MaxAnswer = 256 * 1024;
    static constexpr int MaxBansShown = 1000;

    Moderator(StageServer &stage, Reloader &reloader, Log log);

    QByteArray answer(const QString &line, const Caller &caller);
    // Commands carried out, by action.
    const std::array<qint64, ControlCommand::ActionCount> &counts() const { return m_counts; }
    // Where the figures are served, for "status"; empty without.
    void setFiguresAddress(const QString &address) { m_figuresAddress = address; }

private:
    struct Result
    {
        bool ok = true;
        QString message;
        QStringList lines;
        QJsonObject json;
    };
    Result run(const ControlCommand::Command &command);
    Result who() const;
    Result status() const;
    Result ban(const ControlCommand::Command &command);
    Result unban(const ControlCommand::Command &command);
    Result bans() const;
    static Result failure(const QString &why) { return {false, why, {}, {}}; }
    static QByteArray encode(const Result &result, bool json);

    StageServer &m_stage;
    Reloader &m_reloader;
    Log m_log;
    QString m_figuresAddress;
    std::array<qint64, ControlCommand::ActionCount> m_counts{};
};
