// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The real quandrel-server binary on a free loopback port.
class ServerProcess
{
public:
    // `program` is the server binary; by default, the one this build makes.
    explicit ServerProcess(QString program = {});
    ~ServerProcess();

    // Starts it with these options besides the address and port; its log
    // goes to a file, unless `stderrFd` names a descriptor to give it.
    bool start(const QStringList &options = {}, int stderrFd = -1);
    // Starts it under this limit of open descriptors, soft and hard, as
    // `prlimit --nofile=N:N` would; before start().
    void setDescriptorLimit(int limit) { m_descriptorLimit = limit; }
    void kill();
    // Waits for it to end; -1 if it does not.
    int exitCode();
    quint16 port() const { return m_port; }
    // The page's port; 0 when the page is off.
    quint16 webPort() const { return m_webPort; }
    // The stage inside TLS; 0 without it.
    quint16 tlsPort() const { return m_tlsPort; }
    // Where the figures are served; 0 unless --metrics-listen asked.
    quint16 metricsPort() const { return m_metricsPort; }
    qint64 pid() const { return m_process.processId(); }
    // Resident memory of the server process, in KiB.
    qint64 residentKiB() const;
    // What it has logged so far (nothing when its log went elsewhere).
    QString log() const;

private:
    QString m_program;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_webPort = 0;
    quint16 m_tlsPort = 0;
    quint16 m_metricsPort = 0;
    int m_descriptorLimit = 0;
};
