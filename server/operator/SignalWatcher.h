// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal, through a signalfd, so that the
// server leaves its event loop and exits cleanly, and SIGHUP into a request
// to read its files again. Construct it before any other thread starts: it
// blocks these signals for the process.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested(int signal);
    void reloadRequested();

private:
    void onActivated();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
