// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <sys/types.h>
#include <vector>

// Many stages on this host: server processes of the real binary, one a stage
// as systemd runs them, or the echo relays of the benchmark's floor. Ended
// with the object.
class Fleet
{
public:
    Fleet() = default;
    ~Fleet();
    Fleet(Fleet &&other) noexcept;
    Fleet &operator=(Fleet &&) = delete;
    Fleet(const Fleet &) = delete;

    // `count` servers on free loopback ports; empty, with `error` set, when
    // one does not start within a minute.
    static Fleet servers(const QString &path, int count, const QStringList &options,
                         QString *error);
    // `stages` stages relayed by `processes` echo relays.
    static Fleet echoRelays(int stages, int processes);
    // `stages` stages of the server's own code, `processes` processes of
    // them, each process one event loop for its share: the other shape a
    // host of many stages could take.
    static Fleet sharedProcesses(int stages, int processes);

    const std::vector<std::uint16_t> &ports() const { return m_ports; }
    // Each server's metrics port, when its options asked for one.
    const std::vector<std::uint16_t> &metricsPorts() const { return m_metricsPorts; }
    const std::vector<pid_t> &pids() const { return m_pids; }
    double cpuSeconds() const;
    // The mean proportional set size of a process, in MiB.
    double pssMiB() const;

private:
    // `stages` stages over `processes` children, each running `run` for its
    // share, which writes the ports to `out` before it serves them.
    static Fleet forked(int stages, int processes, void (*run)(int count, int out));

    std::vector<pid_t> m_pids;
    std::vector<std::uint16_t> m_ports;
    std::vector<std::uint16_t> m_metricsPorts;
    QString m_logs; // the servers' logs, a directory removed with them
};
