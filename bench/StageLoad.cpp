// SPDX-License-Identifier: MIT
#include "StageLoad.h"

#include "Stats.h"
#include "net/PacketBytes.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

StageLoad::StageLoad(const std::vector<std::uint16_t> &ports, int clientsPerStage)
    : m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    for (const std::uint16_t port : ports) {
        for (int c = 0; c < clientsPerStage; ++c) {
            auto client = std::make_unique<Client>();
            if (!client->socket.connectTo(port))
                continue;
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = m_clients.size();
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, client->socket.fd(), &event);
            m_clients.push_back(std::move(client));
        }
    }
}

StageLoad::~StageLoad()
{
    ::close(m_epoll);
}

bool StageLoad::join(int timeoutMs)
{
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
        if (!m_clients[i]->socket.sendAll("\x0A"
                                          "C" +
                                          QByteArray::number(qulonglong(i)) + '\0'))
            return false;
    }
    std::size_t joined = 0;
    const std::int64_t deadline = Stats::nowNs() + std::int64_t(timeoutMs) * 1'000'000;
    epoll_event events[256];
    while (joined < m_clients.size() && Stats::nowNs() < deadline) {
        const int n = ::epoll_wait(m_epoll, events, 256, 100);
        for (int e = 0; e < n; ++e) {
            Client &client = *m_clients[events[e].data.u64];
            if (!client.socket.readPending())
                return false;
            if (client.number < 0) {
                if (const auto number = client.socket.takeClientNumber()) {
                    client.number = *number;
                    ++joined;
                }
            }
            while (client.number >= 0 && client.socket.nextPacket()) {
            }
        }
    }
    return joined == m_clients.size();
}

bool StageLoad::readFrom(std::size_t i, std::vector<float> *latencies)
{
    Client &client = *m_clients[i];
    const bool open = client.socket.readOnce();
    const std::int64_t now = Stats::nowNs();
    while (const auto packet = client.socket.nextPacket()) {
        const auto action = ActionView::parse(*packet);
        std::uint64_t step = 0;
        if (!action ||
            std::from_chars(action->x.data(), action->x.data() + action->x.size(), step).ec !=
                std::errc{})
            continue;
        if (step < m_sentAt.size() && m_sentAt[step] != 0)
            latencies->push_back(float(double(now - m_sentAt[step]) / 1e6));
    }
    return open;
}

std::vector<float> StageLoad::run(double seconds, double stepsPerSecond)
{
    const std::size_t count = m_clients.size();
    const std::int64_t period = std::int64_t(1e9 / stepsPerSecond);
    const std::int64_t start = Stats::nowNs();
    const std::int64_t stop = start + std::int64_t(seconds * 1e9);
    const std::size_t steps = std::size_t(seconds * stepsPerSecond) * count + count;
    m_sentAt.assign(steps + 1, 0);
    std::vector<float> latencies;
    latencies.reserve(steps * 10);
    // Client i steps at start + k * period + i * period / count: evenly spread.
    std::size_t sent = 0;
    auto dueAt = [&](std::size_t k) {
        return start + std::int64_t(k / count) * period +
               std::int64_t(k % count) * period / std::int64_t(count);
    };
    epoll_event events[512];
    for (;;) {
        std::int64_t now = Stats::nowNs();
        while (dueAt(sent) <= now && dueAt(sent) < stop && sent + 1 < m_sentAt.size()) {
            Client &client = *m_clients[sent % count];
            const std::size_t step = sent + 1;
            const QByteArray packet =
                '\x02' +
                PacketBytes::action(QByteArray::number(client.number), ActionView::Command::GoRight,
                                    "Tavro", QByteArray::number(qulonglong(step)), "480") +
                '\0';
            m_sentAt[step] = Stats::nowNs();
            client.socket.sendSome(packet);
            ++sent;
        }
        const std::int64_t end = stop + 500'000'000;
        if (now >= end)
            break;
        const std::int64_t next = dueAt(sent) < stop ? dueAt(sent) : end;
        const int waitMs = int(std::max<std::int64_t>(0, (next - now + 999'999) / 1'000'000));
        const int n = ::epoll_wait(m_epoll, events, 512, waitMs);
        for (int e = 0; e < n; ++e)
            readFrom(events[e].data.u64, &latencies);
    }
    return latencies;
}
