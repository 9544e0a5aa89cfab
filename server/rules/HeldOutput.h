// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <deque>
#include <list>

// What waits for a client while nothing may be written to it, to go out one
// packet at a time. Only the newest step of each sender still matters, so a
// step supersedes every older step and presence answer of its sender, and a
// presence answer an older presence answer; the steps held are then at most
// two a sender. Chat lines and notices all stay, in order, within the bound;
// past it the oldest of them go.
class HeldOutput
{
public:
    static constexpr qsizetype MaxBytes = 64 * 1024;

    // One whole packet, as it would be written.
    void add(const QByteArray &packet);
    // The oldest packet held, which is held no more; empty when none is.
    QByteArray takeFirst();
    bool isEmpty() const { return m_actions.empty() && m_others.empty(); }
    qsizetype size() const { return m_bytes; }
    qsizetype count() const { return qsizetype(m_actions.size() + m_others.size()); }

private:
    struct Entry
    {
        quint64 order;
        QByteArray bytes;
        int sender = -1;
        bool move = false;
    };

    std::list<Entry> m_actions; // few: erased from the middle when superseded
    std::deque<Entry> m_others;
    qsizetype m_bytes = 0;
    quint64 m_next = 0;
};
