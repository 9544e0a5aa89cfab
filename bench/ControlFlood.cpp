// SPDX-License-Identifier: MIT
#include "ControlFlood.h"

#include <QLocalSocket>

ControlFlood::ControlFlood(const QString &path, int connections)
{
    for (int i = 0; i < connections; ++i)
        m_threads.emplace_back([this, path] { run(path); });
}

ControlFlood::~ControlFlood()
{
    stop();
}

qint64 ControlFlood::stop()
{
    m_stop = true;
    for (std::thread &thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
    return m_answers;
}

void ControlFlood::run(const QString &path)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(2000))
        return;
    // A few commands in flight at once, as a script in a loop would send them.
    const QByteArray burst = QByteArray("who\nstatus\n").repeated(4);
    QByteArray answers;
    while (!m_stop && socket.state() == QLocalSocket::ConnectedState) {
        socket.write(burst);
        socket.waitForBytesWritten(1000);
        int ends = 0;
        while (ends < 8 && !m_stop && socket.waitForReadyRead(1000)) {
            answers += socket.readAll();
            for (qsizetype at; (at = answers.indexOf("\n\n")) >= 0;) {
                answers.remove(0, at + 2);
                ++ends;
            }
        }
        m_answers += ends;
    }
}
