// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>

class Link;

// Connections that are told why they go, then closed: a peer that does not
// take its farewell within a few seconds is cut, and past a bound on how
// many wait, no more farewells are written, so refused peers cannot linger.
class Farewells
{
public:
    static constexpr std::size_t Max = 64;
    static constexpr qint64 TimeoutMs = 5000;

    // Milliseconds on a monotonic clock.
    explicit Farewells(std::function<qint64()> nowMs);

    // Sends `farewell` and closes the link, which deletes itself once closed.
    void closeAfter(Link *link, const QByteArray &farewell);

private:
    void sweep();

    std::function<qint64()> m_nowMs;
    std::deque<std::pair<QPointer<Link>, qint64>> m_waiting; // with their deadlines
    QTimer m_sweep;
};
