// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>
#include <utility>

// Who may not be on the stage: addresses, prefixes and names, one to a line
// of the ban file, "#" starting a comment:
//   203.0.113.7
//   203.0.113.0/24
//   2001:db8::/48
//   name:Troll
// Names are compared in their look-alike form, so that "Tr0ll" is banned
// with "Troll".
class BanList
{
public:
    struct Problem
    {
        int line;
        QString why;
    };

    // The file's text, as UTF-8; a line that cannot be read is skipped and
    // told of in `problems`, and the rest applies.
    static BanList parse(QByteArrayView text, QList<Problem> *problems = nullptr);

    bool bansAddress(const QHostAddress &address) const;
    // `lookAlike` as NameRules::lookAlike gives it.
    bool bansName(const QString &lookAlike) const;
    qsizetype size() const { return m_subnets.size() + m_names.size(); }

private:
    QList<std::pair<QHostAddress, int>> m_subnets;
    QSet<QString> m_names;
};
