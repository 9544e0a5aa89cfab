#pragma once

#include <QProcess>
#include <QTemporaryDir>

// The real quandrel-server binary on a free loopback port.
class ServerProcess
{
public:
    ServerProcess();
    ~ServerProcess();

    bool start();
    void kill();
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // Resident memory of the server process, in KiB.
    qint64 residentKiB() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
