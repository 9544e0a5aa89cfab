// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

// The least a stage server could do, as the floor of the many-stage
// benchmark: on each of its ports it gives each joining client a number and
// sends every packet to every client of that port. No rules, no budgets, no
// notices, no Qt event loop: what is left of the latency is the measuring
// side's and the kernel's.
class EchoRelay
{
public:
    // Listens on `count` free loopback ports.
    explicit EchoRelay(int count);
    ~EchoRelay();
    EchoRelay(const EchoRelay &) = delete;
    EchoRelay &operator=(const EchoRelay &) = delete;

    const std::vector<std::uint16_t> &ports() const { return m_ports; }
    // Relays until the process is ended.
    [[noreturn]] void serve();

private:
    struct Connection
    {
        int fd = -1;
        int stage = 0;
        QByteArray buffer;
    };
    void accept(int stage);
    void readFrom(std::size_t id);
    void relay(int stage, const QByteArray &packet);

    int m_epoll = -1;
    std::vector<int> m_listeners;
    std::vector<std::uint16_t> m_ports;
    std::vector<Connection> m_connections;           // by id; fd -1 once closed
    std::vector<std::vector<std::size_t>> m_members; // connection ids by stage
};
