// SPDX-License-Identifier: MIT
#include "server/operator/LogSink.h"

#include <QDateTime>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// systemd sets JOURNAL_STREAM to the device and inode of the stream it gave
// us; only when standard error is still that stream does the journal stamp
// the lines.
bool isJournal(int fd)
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    if (stream.isEmpty())
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    return stream ==
           QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino));
}

} // namespace

LogSink::LogSink(const QString &prefix, int fd)
    : m_fd(fd), m_prefix(prefix), m_stamped(!isJournal(fd)), m_thread(&LogSink::run, this)
{}

LogSink::~LogSink()
{
    {
        std::unique_lock lock(m_mutex);
        m_drained.wait_for(lock, std::chrono::seconds(1),
                           [this] { return m_queue.empty() && !m_writing; });
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

QString LogSink::header() const
{
    if (!m_stamped)
        return m_prefix;
    return m_prefix + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ';
}

void LogSink::write(const QString &line)
{
    QString text = header();
    text += line.left(MaxLine);
    text += u'\n';
    const std::lock_guard lock(m_mutex);
    if (m_dropped > 0) {
        const QString note =
            header() +
            QStringLiteral("%1 log lines dropped: standard error was not read\n").arg(m_dropped);
        if (!enqueue(note.toStdString())) {
            ++m_droppedInAll;
            return void(++m_dropped);
        }
        m_dropped = 0;
    }
    if (!enqueue(text.toStdString())) {
        ++m_dropped;
        ++m_droppedInAll;
    }
}

quint64 LogSink::droppedInAll()
{
    const std::lock_guard lock(m_mutex);
    return m_droppedInAll;
}

bool LogSink::enqueue(std::string line)
{
    if (m_queuedBytes + line.size() > MaxQueuedBytes)
        return false;
    m_queuedBytes += line.size();
    m_queue.push_back(std::move(line));
    m_wake.notify_one();
    return true;
}

void LogSink::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        std::string line = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= line.size();
        m_writing = true;
        lock.unlock();
        // Poll before writing, so that a reader that never comes back cannot
        // keep this thread from seeing that the server stops.
        std::size_t done = 0;
        bool stop = false;
        while (done < line.size() && !stop) {
            pollfd pfd{m_fd, POLLOUT, 0};
            const int ready = ::poll(&pfd, 1, 100);
            if (ready > 0) {
                const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
                if (n > 0)
                    done += std::size_t(n);
                else if (n < 0 && errno != EINTR && errno != EAGAIN)
                    break; // nowhere to write to; the line is lost
            } else if (ready < 0 && errno != EINTR) {
                break;
            }
            const std::lock_guard check(m_mutex);
            stop = m_stopping;
        }
        lock.lock();
        m_writing = false;
        if (m_queue.empty())
            m_drained.notify_all();
    }
}
