// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <deque>

// What waits for a newcomer while its client number travels alone. It is
// bounded: past the bound the oldest steps go first (a later one places the
// avatar anyway), then the oldest other packets.
class HeldOutput
{
public:
    static constexpr qsizetype MaxBytes = 64 * 1024;

    void add(const QByteArray &packet);
    // Everything held, in the order it came, and nothing held any more.
    QByteArray take();
    qsizetype size() const { return m_bytes; }

private:
    struct Entry
    {
        quint64 order;
        QByteArray bytes;
    };

    std::deque<Entry> m_actions;
    std::deque<Entry> m_others;
    qsizetype m_bytes = 0;
    quint64 m_next = 0;
};
