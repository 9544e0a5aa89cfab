// SPDX-License-Identifier: MIT
#pragma once

#include "client/ClientSession.h"

#include <QTimer>

// The session's one test seam, for tests, the fuzzer and the benchmark: its
// timers and socket by their names, and their handlers run at once. Running a
// timer's handler here is what its tick does: a one-shot timer stops first.
class SessionProbe
{
public:
    explicit SessionProbe(ClientSession &session) : m_session(session) {}

    QTimer &Constant() const { return *m_session.Constant; }
    QTimer &SendUsersYourData() const { return *m_session.SendUsersYourData; }
    QTimer &Action() const { return *m_session.Action; }
    ::Wsk &Wsk() const { return *m_session.Wsk; }

    void Constant_Timer() const { tick(Constant(), &ClientSession::Constant_Timer); }
    void SendUsersYourData_Timer() const
    {
        tick(SendUsersYourData(), &ClientSession::SendUsersYourData_Timer);
    }
    void Action_Timer() const { tick(Action(), &ClientSession::Action_Timer); }

    // No work deferred to the next tick is left.
    bool settled() const { return !Action().isActive() && !SendUsersYourData().isActive(); }

private:
    void tick(QTimer &timer, void (ClientSession::*handler)()) const
    {
        timer.stop();
        (m_session.*handler)();
    }

    ClientSession &m_session;
};
