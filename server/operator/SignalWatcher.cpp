// SPDX-License-Identifier: MIT
#include "server/operator/SignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent)
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &mask, nullptr) != 0)
        return;
    m_fd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::onActivated);
}

SignalWatcher::~SignalWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void SignalWatcher::onActivated()
{
    signalfd_siginfo info;
    while (::read(m_fd, &info, sizeof info) == ssize_t(sizeof info)) {
        if (info.ssi_signo == SIGHUP)
            emit reloadRequested();
        else
            emit terminationRequested(int(info.ssi_signo));
    }
}
