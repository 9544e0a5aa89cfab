// SPDX-License-Identifier: MIT
#include "server/operator/ControlTool.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

namespace ControlTool {

namespace {

constexpr char Help[] =
    "usage: quandrel-server ctl [--control PATH] [--json] COMMAND [ARGUMENTS]\n"
    "  who                          everyone on the stage and waiting\n"
    "  status                       places, waiting, bans, closed or not\n"
    "  kick N [REASON]              removes client N\n"
    "  mute N [DURATION] [REASON]   their lines are not relayed; unmute N\n"
    "  ban N|ADDRESS|PREFIX|NAME [DURATION] [REASON]\n"
    "  unban ADDRESS|PREFIX|NAME    bans: the bans in force\n"
    "  say TEXT                     a notice to everyone\n"
    "  close [REASON], open         refuse new joins, and take them again\n"
    "DURATION: 90s, 10m, 2h, 7d. PATH: /run/quandrel-server/control unless given.\n";

} // namespace

int run(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    QString path = QString::fromLatin1(DefaultPath);
    bool json = false;
    QStringList words;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (words.isEmpty() && argument == QLatin1StringView("--control") &&
            i + 1 < arguments.size()) {
            path = arguments[++i];
        } else if (words.isEmpty() && argument.startsWith(QLatin1StringView("--control="))) {
            path = argument.mid(10);
        } else if (words.isEmpty() && argument == QLatin1StringView("--json")) {
            json = true;
        } else if (words.isEmpty() && (argument == QLatin1StringView("--help") ||
                                       argument == QLatin1StringView("-h"))) {
            std::fputs(Help, out);
            return Done;
        } else {
            words << argument;
        }
    }
    if (words.isEmpty()) {
        std::fputs(Help, err);
        return Usage;
    }
    QString line = words.join(u' ');
    if (line.contains(u'\n') || line.contains(u'\r')) {
        std::fputs("quandrel-server ctl: a command is one line\n", err);
        return Usage;
    }
    if (json)
        line.prepend(QStringLiteral("json "));

    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(AnswerTimeoutMs)) {
        const bool denied = socket.error() == QLocalSocket::SocketAccessError;
        std::fprintf(err, "quandrel-server ctl: %s: %s\n", qPrintable(path),
                     denied ? "permission denied: root, the server's user and the group "
                              "quandrel-admin may give commands"
                            : qPrintable(socket.errorString()));
        return denied ? Refused : Unreachable;
    }
    socket.write(line.toUtf8() + '\n');
    QByteArray answer;
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    // An answer ends with an empty line.
    while (!answer.endsWith("\n\n")) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        answer += socket.readAll();
        if (deadline.hasExpired())
            break;
    }
    if (!answer.endsWith("\n\n")) {
        std::fprintf(err, "quandrel-server ctl: no whole answer from %s\n", qPrintable(path));
        return NoAnswer;
    }
    answer.chop(1);
    // A refused caller is told before any command is read, in plain text.
    const bool refused = answer.startsWith("error: refused");
    const bool failed = answer.startsWith('{')
                            ? !QJsonDocument::fromJson(answer).object().value(u"ok").toBool()
                            : answer.startsWith("error");
    std::fwrite(answer.constData(), 1, std::size_t(answer.size()), failed ? err : out);
    return refused ? Refused : failed ? CommandFailed : Done;
}

} // namespace ControlTool
