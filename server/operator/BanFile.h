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
BanList parse(QByteArrayView text, const LookAlike &lookAlike, QList<Problem> *problems = nullptr);

// The file read and parsed, each line that cannot be read logged with its
// number and skipped; nothing, and why, when the file itself cannot be read.
std::optional<BanList> read(const QString &path, const LookAlike &lookAlike,
                            const std::function<void(const QString &)> &log, QString *why);

} // namespace BanFile
