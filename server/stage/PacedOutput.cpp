// SPDX-License-Identifier: MIT
#include "server/stage/NewcomerRelease.h"

NewcomerRelease::NewcomerRelease()
{
    m_end.setSingleShot(true);
    m_end.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_end, &QTimer::timeout, &m_end, [this] { release(); });
}

void NewcomerRelease::start(int quietMs)
{
    m_quiet = true;
    m_end.start(quietMs);
}

void NewcomerRelease::stop()
{
    m_end.stop();
}

bool NewcomerRelease::hold(const QByteArray &bytes)
{
    if (m_quiet)
        m_held.add(bytes);
    return m_quiet;
}

void NewcomerRelease::release()
{
    m_quiet = false;
    if (m_held.size() > 0)
        m_write(m_held.take());
}
