// SPDX-License-Identifier: MIT
#include "server/operator/Moderator.h"

#include "net/Cp1252.h"
#include "server/operator/BanFile.h"
#include "server/operator/Reloader.h"
#include "server/rules/LogText.h"
#include "server/stage/StageServer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

using ControlCommand::Action;

QString carrierName(StageFigures::Carrier carrier)
{
    switch (carrier) {
    case StageFigures::Carrier::Tcp:
        return QStringLiteral("TCP");
    case StageFigures::Carrier::Tls:
        return QStringLiteral("TLS");
    case StageFigures::Carrier::WebSocket:
        return QStringLiteral("WebSocket");
    case StageFigures::Carrier::Page:
        break;
    }
    return QStringLiteral("page");
}

QString text(const QByteArray &wire)
{
    return LogText::escaped(wire, 64);
}

// "1h 2m", "3m 4s", "5s".
QString span(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (s >= 3600)
        return QStringLiteral("%1h %2m").arg(s / 3600).arg(s % 3600 / 60);
    if (s >= 60)
        return QStringLiteral("%1m %2s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1s").arg(s);
}

// A participant's address as a ban takes it: the address of an IPv4 peer,
// the /64 of an IPv6 one, which its owner holds whole.
QString banEntryFor(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, 0);
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

} // namespace

Moderator::Moderator(StageServer &stage, Reloader &reloader, Log log)
    : m_stage(stage), m_reloader(reloader), m_log(std::move(log))
{}

QByteArray Moderator::answer(const QString &line, const Caller &caller)
{
    const auto parsed = ControlCommand::parse(line);
    const QString who = QStringLiteral("uid %1 pid %2").arg(caller.uid).arg(caller.pid);
    if (const QString *error = std::get_if<QString>(&parsed)) {
        m_stage.log(QStringLiteral("control: %1: refused %2: %3")
                        .arg(who, LogText::escaped(line.toUtf8(), 100), *error));
        return encode(failure(*error), line.trimmed().startsWith(QLatin1StringView("json ")));
    }
    const auto &command = std::get<ControlCommand::Command>(parsed);
    const Result result = run(command);
    const QString logged = QStringLiteral("control: %1: %2: %3")
                               .arg(who, LogText::escaped(line.toUtf8(), 200),
                                    result.ok ? QStringLiteral("done") : result.message);
    // What only looks goes through the log's budget: a script asking every
    // second must not bury what changed the stage.
    if (command.action == Action::Who || command.action == Action::Status ||
        command.action == Action::Bans)
        m_stage.log(logged);
    else
        m_log(logged);
    if (result.ok)
        ++m_counts[std::size_t(command.action)];
    return encode(result, command.json);
}

Moderator::Result Moderator::run(const ControlCommand::Command &command)
{
    const auto number = ControlCommand::clientNumber(command.target);
    const auto nobody = [&] {
        return failure(QStringLiteral("nobody on the stage has number %1").arg(command.target));
    };
    switch (command.action) {
    case Action::Who:
        return who();
    case Action::Status:
        return status();
    case Action::Kick:
        return m_stage.kick(*number, command.text) ? Result{true, QStringLiteral("removed"), {}, {}}
                                                   : nobody();
    case Action::Mute:
        return m_stage.mute(*number, command.durationMs, command.text)
                   ? Result{true, QStringLiteral("muted"), {}, {}}
                   : nobody();
    case Action::Unmute:
        return m_stage.unmute(*number)
                   ? Result{true, QStringLiteral("unmuted"), {}, {}}
                   : failure(QStringLiteral("number %1 is not muted").arg(command.target));
    case Action::Ban:
        return ban(command);
    case Action::Unban:
        return unban(command);
    case Action::Bans:
        return bans();
    case Action::Say:
        if (const auto refusal = m_stage.say(command.text))
            return failure(QString::fromLatin1(*refusal));
        return {true, QStringLiteral("said"), {}, {}};
    case Action::Close:
        m_stage.close(command.text.isEmpty() ? QByteArrayLiteral("The stage is closed for a moment")
                                             : Cp1252::encode(command.text).left(400));
        return {true, QStringLiteral("closed: joins are refused"), {}, {}};
    case Action::Open:
        m_stage.open();
        return {true, QStringLiteral("open"), {}, {}};
    }
    return failure(QStringLiteral("unknown command"));
}

Moderator::Result Moderator::who() const
{
    Result result;
    QJsonArray people;
    const QList<StageServer::Person> all = m_stage.people();
    for (const StageServer::Person &person : all) {
        const bool joined = person.number >= 0;
        const QString address = person.address.toString();
        result.lines
            << (joined
                    ? QStringLiteral("%1 %2 (joined as %3) %4 %5, on the stage for %6, "
                                     "%7 packets, %8 bytes%9")
                          .arg(QString::number(person.number), text(person.shownName),
                               text(person.name), carrierName(person.carrier), address,
                               span(person.joinedForMs))
                          .arg(person.packets)
                          .arg(person.bytes)
                          .arg(person.muted ? QStringLiteral(", muted") : QString())
                    : QStringLiteral("- waiting %1 %2").arg(carrierName(person.carrier), address));
        people.append(QJsonObject{
            {QStringLiteral("number"), joined ? QJsonValue(person.number) : QJsonValue()},
            {QStringLiteral("waiting"), !joined},
            {QStringLiteral("shown_name"), text(person.shownName)},
            {QStringLiteral("join_name"), text(person.name)},
            {QStringLiteral("carrier"), carrierName(person.carrier)},
            {QStringLiteral("address"), address},
            {QStringLiteral("joined_seconds"), double(person.joinedForMs / 1000)},
            {QStringLiteral("packets"), double(person.packets)},
            {QStringLiteral("bytes"), double(person.bytes)},
            {QStringLiteral("muted"), person.muted}});
    }
    result.message = QStringLiteral("%1 connected").arg(all.size());
    result.json.insert(QStringLiteral("people"), people);
    return result;
}

Moderator::Result Moderator::status() const
{
    const StageFigures figures = m_stage.figures();
    QString why;
    const auto banText = m_reloader.banText(&why);
    const qsizetype bans =
        banText ? BanFile::inForce(*banText, QDateTime::currentSecsSinceEpoch()).size() : -1;
    const int waiting = m_stage.connectionCount() - figures.placesTaken;
    Result result;
    result.lines << QStringLiteral("places %1 of %2").arg(figures.placesTaken).arg(figures.places)
                 << QStringLiteral("waiting %1").arg(waiting) << QStringLiteral("bans %1").arg(bans)
                 << QStringLiteral("closed %1").arg(m_stage.isClosed() ? "yes" : "no")
                 << QStringLiteral("figures %1")
                        .arg(m_figuresAddress.isEmpty() ? QStringLiteral("none")
                                                        : m_figuresAddress);
    result.json = {{QStringLiteral("places_taken"), figures.placesTaken},
                   {QStringLiteral("places"), figures.places},
                   {QStringLiteral("waiting"), waiting},
                   {QStringLiteral("bans"), double(bans)},
                   {QStringLiteral("closed"), m_stage.isClosed()},
                   {QStringLiteral("figures"), m_figuresAddress}};
    return result;
}

Moderator::Result Moderator::ban(const ControlCommand::Command &command)
{
    std::optional<QString> entry;
    if (const auto number = ControlCommand::clientNumber(command.target)) {
        const QList<StageServer::Person> people = m_stage.people();
        const auto person = std::find_if(people.begin(), people.end(),
                                         [&](const auto &p) { return p.number == *number; });
        if (person == people.end())
            return failure(QStringLiteral("nobody on the stage has number %1").arg(*number));
        entry = banEntryFor(person->address);
    } else {
        entry = BanFile::entry(command.target);
    }
    if (!entry)
        return failure(QStringLiteral("\"%1\" is no client number, address, prefix or name")
                           .arg(command.target.left(60)));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    std::optional<qint64> until;
    if (command.durationMs)
        until = now + (*command.durationMs + 999) / 1000;
    const QString comment =
        QStringLiteral("by the operator %1%2")
            .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                 command.text.isEmpty() ? QString() : QStringLiteral(": ") + command.text);
    QString why;
    if (!m_reloader.changeBans(
            [&](QByteArrayView text) {
                return BanFile::withBan(text, *entry, until, comment, now);
            },
            &why))
        return failure(QStringLiteral("the ban file is as it was: %1").arg(why));
    Result result{true, QStringLiteral("banned %1").arg(*entry), {}, {}};
    result.json.insert(QStringLiteral("entry"), *entry);
    return result;
}

Moderator::Result Moderator::unban(const ControlCommand::Command &command)
{
    const std::optional<QString> entry = BanFile::entry(command.target);
    if (!entry)
        return failure(
            QStringLiteral("\"%1\" is no address, prefix or name").arg(command.target.left(60)));
    int removed = 0;
    QString why;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (!m_reloader.changeBans(
            [&](QByteArrayView text) { return BanFile::withoutBan(text, *entry, now, &removed); },
            &why))
        return failure(QStringLiteral("the ban file is as it was: %1").arg(why));
    if (removed == 0)
        return failure(QStringLiteral("%1 is not banned").arg(*entry));
    return {true, QStringLiteral("unbanned %1").arg(*entry), {}, {}};
}

Moderator::Result Moderator::bans() const
{
    QString why;
    const auto text = m_reloader.banText(&why);
    if (!text)
        return failure(QStringLiteral("the ban file cannot be read: %1").arg(why));
    Result result;
    const QStringList all = BanFile::inForce(*text, QDateTime::currentSecsSinceEpoch());
    result.lines = all.mid(0, MaxBansShown);
    result.message =
        all.size() > MaxBansShown
            ? QStringLiteral("%1 bans, the first %2 shown").arg(all.size()).arg(MaxBansShown)
            : QStringLiteral("%1 bans").arg(all.size());
    result.json.insert(QStringLiteral("bans"), QJsonArray::fromStringList(result.lines));
    return result;
}

QByteArray Moderator::encode(const Result &result, bool json)
{
    if (json) {
        QJsonObject object = result.json;
        object.insert(QStringLiteral("ok"), result.ok);
        if (!result.message.isEmpty())
            object.insert(result.ok ? QStringLiteral("message") : QStringLiteral("error"),
                          result.message);
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + "\n\n";
    }
    QString out = result.ok ? QStringLiteral("ok") : QStringLiteral("error");
    if (!result.message.isEmpty())
        out += QStringLiteral(": ") + result.message;
    out += u'\n';
    for (const QString &line : result.lines)
        out += line + u'\n';
    return out.toUtf8() + '\n';
}
