// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/HeldOutput.h"

#include <QByteArray>
#include <QTimer>
#include <functional>

// A newcomer's quiet time: its client number has no terminator, so for a
// while it is sent nothing else, and what the stage says meanwhile is held
// (within HeldOutput's bound) and released when the time is up.
class NewcomerRelease
{
public:
    using Write = std::function<void(const QByteArray &bytes)>;

    NewcomerRelease();
    // How the newcomer is sent what was held, once the quiet time is over.
    void setWrite(Write write) { m_write = std::move(write); }

    void start(int quietMs);
    void stop();
    // Keeps `bytes` for later when quiet, and says whether it did.
    bool hold(const QByteArray &bytes);

private:
    void release();

    Write m_write;
    HeldOutput m_held;
    QTimer m_end;
    bool m_quiet = false;
};
