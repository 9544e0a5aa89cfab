// SPDX-License-Identifier: MIT
#include "server/stage/StageNotices.h"

#include "server/rules/RelayRules.h"

StageNotices::StageNotices(bool enabled, std::function<qint64()> nowMs, Broadcast broadcast)
    : m_enabled(enabled), m_nowMs(std::move(nowMs)), m_broadcast(std::move(broadcast))
{
    m_flush.setSingleShot(true);
    QObject::connect(&m_flush, &QTimer::timeout, &m_flush, [this] { flush(); });
}

void StageNotices::joined(const QByteArray &name)
{
    if (!m_enabled)
        return;
    const QByteArray shown = RelayRules::noticeName(name);
    if (auto line = m_joins.add(shown, m_nowMs()))
        m_broadcast(RelayRules::notice(*line), shown);
    schedule();
}

void StageNotices::left(const QByteArray &name)
{
    if (!m_enabled)
        return;
    if (auto line = m_leaves.add(RelayRules::noticeName(name), m_nowMs()))
        m_broadcast(RelayRules::notice(*line), std::nullopt);
    schedule();
}

void StageNotices::schedule()
{
    qint64 next = -1;
    for (const NoticeBatch *batch : {&m_joins, &m_leaves}) {
        if (batch->dueMs() >= 0 && (next < 0 || batch->dueMs() < next))
            next = batch->dueMs();
    }
    if (next >= 0 && !m_flush.isActive())
        m_flush.start(int(std::max<qint64>(0, next - m_nowMs())));
}

void StageNotices::flush()
{
    const qint64 now = m_nowMs();
    for (NoticeBatch *batch : {&m_joins, &m_leaves}) {
        if (batch->dueMs() < 0 || batch->dueMs() > now)
            continue;
        const auto alone = batch == &m_joins ? batch->singleWaiting() : std::nullopt;
        if (auto line = batch->flush())
            m_broadcast(RelayRules::notice(*line), alone);
    }
    schedule();
}
