// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/BanList.h"
#include "server/rules/LookAlike.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The ban file: addresses, prefixes and names, one to a line, "#" starting a
// comment:
//   203.0.113.7
//   203.0.113.0/24
//   2001:db8::/48
//   name:Troll
//   198.51.100.4 until=2026-12-24T18:00:00Z   # banned for a while
// A line with "until=" stops applying at that time; the operator's commands
// add and remove lines, keeping every other line and comment as it stands.
namespace BanFile {

// A longer file is refused whole rather than cut.
inline constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

struct Problem
{
    int line;
    QString why;
};

// The file's text, as UTF-8; a line that cannot be read is skipped and told
// of in `problems`, and the rest applies.
// `nowSecs` (since the epoch, UTC) decides which lines have expired; when
// `nextExpirySecs` is given, it gets the soonest expiry still to come.
BanList parse(QByteArrayView text, const LookAlike &lookAlike, QList<Problem> *problems = nullptr,
              qint64 nowSecs = 0, std::optional<qint64> *nextExpirySecs = nullptr);

// An entry as a line holds it: an address, a prefix or "name:NAME"; nothing
// when `target` is none of them.
std::optional<QString> entry(const QString &target);
// The text with a line for `entry` added (until `untilSecs`, when given),
// with `comment` after it; expired lines are left out.
QByteArray withBan(QByteArrayView text, const QString &entry, std::optional<qint64> untilSecs,
                   const QString &comment, qint64 nowSecs);
// The text without the lines for `entry` (and without expired lines); how
// many lines banned it in `removed`.
QByteArray withoutBan(QByteArrayView text, const QString &entry, qint64 nowSecs, int *removed);
// The bans in force, a line each: entry, and its expiry if it has one.
QStringList inForce(QByteArrayView text, qint64 nowSecs);

// Writes the whole file or leaves the old one: a temporary file in the same
// folder, written, flushed to the disk, and renamed over the old one, which
// keeps its mode. False, and why, when it could not.
enum class Fault
{
    None,
    CrashMidWrite // for the test of a crash: the process ends halfway through
};
bool writeAtomically(const QString &path, const QByteArray &text, QString *why,
                     Fault fault = Fault::None);

// The file read and parsed, each line that cannot be read logged with its
// number and skipped; nothing, and why, when the file itself cannot be read.
std::optional<BanList> read(const QString &path, const LookAlike &lookAlike,
                            const std::function<void(const QString &)> &log, QString *why,
                            std::optional<qint64> *nextExpirySecs = nullptr);
// The file's text, bounded as `read` bounds it.
std::optional<QByteArray> readText(const QString &path, QString *why);

} // namespace BanFile
