// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <atomic>
#include <thread>
#include <vector>

// A local user flooding a stage's control socket: threads of their own,
// each sending "who" as fast as the answers come back, so that the stage's
// event loop is what pays for them.
class ControlFlood
{
public:
    ControlFlood(const QString &path, int connections);
    ~ControlFlood();
    // Stops and says how many answers came back.
    qint64 stop();

private:
    void run(const QString &path);

    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_answers{0};
    std::vector<std::thread> m_threads;
};
