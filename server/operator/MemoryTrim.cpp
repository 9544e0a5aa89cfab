// SPDX-License-Identifier: MIT
#include "server/operator/MemoryTrim.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#include <malloc.h>
#endif

MemoryTrim::MemoryTrim(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [] { trimIfWorth(); });
    m_timer.start();
}

bool MemoryTrim::trimIfWorth()
{
    // The sanitizer keeps freed memory on purpose, in a heap of its own.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    if (mallinfo2().fordblks < WorthTrimming)
        return false;
    malloc_trim(0);
    return true;
#else
    return false;
#endif
}
