// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/NoticeBatch.h"

#include <QByteArray>
#include <QTimer>
#include <functional>
#include <optional>

// The stage's "joined the stage" and "left the stage" lines, batched so that
// a crowd coming and going costs a few lines a second. One who joined is not
// told of itself.
class StageNotices
{
public:
    // Sends a notice to everyone on the stage but the one shown as `notTo`.
    using Broadcast =
        std::function<void(const QByteArray &notice, const std::optional<QByteArray> &notTo)>;

    // With `enabled` false, it says nothing.
    StageNotices(bool enabled, std::function<qint64()> nowMs, Broadcast broadcast);

    // `name` as joined; it shows in the notice as RelayRules::noticeName gives it.
    void joined(const QByteArray &name);
    void left(const QByteArray &name);

private:
    void schedule();
    void flush();

    const bool m_enabled;
    std::function<qint64()> m_nowMs;
    Broadcast m_broadcast;
    NoticeBatch m_joins{"joined the stage"};
    NoticeBatch m_leaves{"left the stage"};
    QTimer m_flush;
};
