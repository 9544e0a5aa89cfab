// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <optional>

// Join or leave notices, so that a crowd coming and going costs the stage a
// few lines a second: the first of a second goes out at once, the others of
// that second wait for its end and go out as one line ("3 people joined the
// stage"), or as their own line when only one waited.
class NoticeBatch
{
public:
    static constexpr qint64 WindowMs = 1000;

    // `what` is what the notice says they did: "joined the stage".
    explicit NoticeBatch(QByteArray what) : m_what(std::move(what)) {}

    // The notice to send now, or nothing when it waits for flush().
    std::optional<QByteArray> add(const QByteArray &shownName, qint64 nowMs);
    // When flush() is due; -1 while nothing waits.
    qint64 dueMs() const { return m_waiting > 0 ? m_windowStartMs + WindowMs : -1; }
    // The line for what waited, if anything did.
    std::optional<QByteArray> flush();
    // The name a flush will speak of, when it speaks of one alone.
    std::optional<QByteArray> singleWaiting() const
    {
        return m_waiting == 1 ? std::optional(m_firstWaiting) : std::nullopt;
    }

private:
    QByteArray m_what;
    qint64 m_windowStartMs = 0;
    bool m_windowOpen = false;
    int m_waiting = 0;
    QByteArray m_firstWaiting;
};
