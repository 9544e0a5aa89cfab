// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// The server's log on standard error. Writing never blocks the caller: lines
// queue in a bounded buffer and a thread of their own writes them as the file
// accepts them. When the buffer is full, lines are dropped, and a later line
// says how many.
class LogSink
{
public:
    static constexpr std::size_t MaxQueuedBytes = 256 * 1024;
    static constexpr qsizetype MaxLine = 1024;

    // Every line starts with `prefix`, then an ISO 8601 time unless standard
    // error is the journal, which stamps lines itself.
    explicit LogSink(const QString &prefix, int fd = 2);
    // Waits briefly for the queue to drain; gives up on a stalled reader.
    ~LogSink();
    LogSink(const LogSink &) = delete;
    LogSink &operator=(const LogSink &) = delete;

    void write(const QString &line);
    // Lines dropped since the start.
    quint64 droppedInAll();

private:
    void run();
    // The prefix and, unless the journal stamps lines itself, the time.
    QString header() const;
    bool enqueue(std::string line);

    const int m_fd;
    const QString m_prefix;
    const bool m_stamped;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<std::string> m_queue;
    std::size_t m_queuedBytes = 0;
    quint64 m_dropped = 0; // since the last line that said so
    quint64 m_droppedInAll = 0;
    bool m_stopping = false;
    bool m_writing = false;
    std::thread m_thread;
};
