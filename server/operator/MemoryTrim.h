// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QTimer>

// Gives memory the server no longer uses back to the system. After a flood
// of connections from many addresses ends, what they held is free again but
// stays with the process, scattered among what is still in use; a stage
// that sat at 15 MB stayed at over 40. Every so often, when enough lies
// free, the C library is asked to return it.
class MemoryTrim : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 10'000;
    // Free memory worth the walk through the heap that returning it takes.
    static constexpr std::size_t WorthTrimming = 2 << 20;

    explicit MemoryTrim(QObject *parent = nullptr);

    // Returns free memory now, when there is enough of it; whether it did.
    static bool trimIfWorth();

private:
    QTimer m_timer;
};
