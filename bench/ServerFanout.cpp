// SPDX-License-Identifier: MIT
#include "ServerFanout.h"

#include "RawClient.h"
#include "Stats.h"
#include "net/PacketBytes.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

QByteArray stepPacket(int number, int seq)
{
    return '\x02' +
           PacketBytes::action(QByteArray::number(number), ActionView::Command::GoLeft, "Gimbo",
                               "1800", QByteArray::number(seq)) +
           '\0';
}

// The sender and sequence number of a relayed step, or -1.
std::pair<int, int> parseStep(const QByteArray &packet)
{
    const auto step = ActionView::parse(packet);
    if (!step || !step->isStep())
        return {-1, -1};
    bool ok = false;
    const int seq = step->y.toInt(&ok);
    return ok ? std::pair{step->number, seq} : std::pair{-1, -1};
}

// Reads every client that poll found readable and hands each relayed packet
// on with the index of the client that got it; false when a connection ended.
template <typename OnPacket>
bool drain(std::vector<std::unique_ptr<RawClient>> &clients, const std::vector<pollfd> &fds,
           OnPacket onPacket)
{
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & POLLIN))
            continue;
        if (!clients[i]->readPending())
            return false;
        while (auto packet = clients[i]->nextPacket())
            onPacket(i, *packet);
    }
    return true;
}

using Clients = std::vector<std::unique_ptr<RawClient>>;

// The upgrade request of a WebSocket to the stage, its lines ended by `end`.
QByteArray upgradeRequest(std::uint16_t webPort, const QByteArray &end = "\r\n")
{
    return "GET /stage HTTP/1.1" + end + "Host: 127.0.0.1:" + QByteArray::number(webPort) + end +
           "Upgrade: websocket" + end + "Connection: Upgrade" + end + "Sec-WebSocket-Version: 13" +
           end + "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==" + end + end;
}

// Whether the server has closed the connection (what it sent is thrown away).
bool closedByServer(RawClient &client)
{
    pollfd p{client.fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    return !client.readPending();
}

// Connects and joins `count` clients; their numbers in `numbers`.
bool joinAll(std::uint16_t port, int count, Clients &clients, std::vector<int> &numbers)
{
    for (int i = 0; i < count; ++i) {
        auto client = std::make_unique<RawClient>();
        if (!client->connectTo(port))
            return false;
        const auto number = client->join("bench" + QByteArray::number(i));
        if (!number)
            return false;
        numbers.push_back(*number);
        clients.push_back(std::move(client));
    }
    // A newcomer is sent nothing for a moment after its number, and the
    // others' last "NewUser" may come half a second after the one before:
    // the steady stage starts after that.
    ::poll(nullptr, 0, 700);
    for (auto &client : clients) {
        client->readPending();
        while (client->nextPacket()) {
        }
    }
    return true;
}

// The first `paced` clients step at the given rate, staggered across the
// period; a client after them, if any, sends steps as fast as its socket
// takes them. Fills p50 and p99 of the paced clients' relay latency.
bool measurePaced(Clients &clients, const std::vector<int> &numbers, int paced, int stepsPerSecond,
                  double seconds, bool flood, FanoutResult &result)
{
    std::vector<pollfd> fds;
    for (auto &client : clients)
        fds.push_back({client->fd(), POLLIN, 0});
    const bool flooding = flood && int(clients.size()) > paced;
    if (flooding) // woken when its socket takes more, so that the bench does not spin
        fds[paced].events |= POLLOUT;
    QByteArray floodBytes;
    qsizetype floodSent = 0;
    if (flooding) {
        for (int i = 0; i < 1000; ++i)
            floodBytes += stepPacket(numbers[paced], 90000 + i);
    }
    const int steps = int(stepsPerSecond * seconds);
    const std::int64_t period = 1'000'000'000 / stepsPerSecond;
    std::vector<std::vector<std::int64_t>> sentAt(10, std::vector<std::int64_t>(steps, 0));
    std::vector<int> nextStep(paced, 0);
    std::vector<double> latencies;
    latencies.reserve(std::size_t(steps) * clients.size() * paced);
    const std::int64_t start = Stats::nowNs() + 20'000'000;
    const std::int64_t deadline = start + std::int64_t(seconds * 1e9) + 2'000'000'000;
    const auto expected = std::size_t(steps) * clients.size() * paced;
    while (latencies.size() < expected && Stats::nowNs() < deadline) {
        std::int64_t now = Stats::nowNs();
        std::int64_t nextDue = deadline;
        for (int i = 0; i < paced; ++i) {
            if (nextStep[i] >= steps)
                continue;
            const std::int64_t due = start + nextStep[i] * period + i * period / paced;
            if (now >= due) {
                sentAt[numbers[i]][nextStep[i]] = Stats::nowNs();
                clients[i]->sendAll(stepPacket(numbers[i], nextStep[i]));
                ++nextStep[i];
                now = Stats::nowNs();
            } else {
                nextDue = std::min(nextDue, due);
            }
        }
        if (flooding && (fds[paced].revents & POLLOUT)) {
            const qsizetype n =
                clients[paced]->sendSome(QByteArrayView(floodBytes).sliced(floodSent));
            if (n < 0)
                return false;
            floodSent = (floodSent + n) % floodBytes.size();
        }
        const int waitMs = int(std::max<std::int64_t>(0, (nextDue - now) / 1'000'000));
        if (::poll(fds.data(), nfds_t(fds.size()), std::min(waitMs, 1)) <= 0)
            continue;
        const std::int64_t received = Stats::nowNs();
        const bool open = drain(clients, fds, [&](std::size_t, const QByteArray &packet) {
            const auto [sender, seq] = parseStep(packet);
            if (sender >= 0 && sender < 10 && seq >= 0 && seq < steps && sentAt[sender][seq])
                latencies.push_back(double(received - sentAt[sender][seq]) / 1000.0);
        });
        if (!open)
            return false;
    }
    result.samples = std::int64_t(latencies.size());
    result.p50Us = Stats::percentile(latencies, 50);
    result.p99Us = Stats::percentile(latencies, 99);
    return true;
}

} // namespace

std::optional<FanoutResult> ServerFanout::flooded(std::uint16_t port, int clientCount,
                                                  int stepsPerSecond, double seconds, bool flood)
{
    Clients clients;
    std::vector<int> numbers;
    FanoutResult result;
    if (!joinAll(port, clientCount + 1, clients, numbers) ||
        !measurePaced(clients, numbers, clientCount, stepsPerSecond, seconds, flood, result))
        return std::nullopt;
    return result;
}

std::optional<FanoutResult> ServerFanout::run(std::uint16_t port, int clientCount,
                                              int stepsPerSecond, double pacedSeconds,
                                              double fullSpeedSeconds)
{
    Clients clients;
    std::vector<int> numbers;
    FanoutResult result;
    if (!joinAll(port, clientCount, clients, numbers) ||
        !measurePaced(clients, numbers, clientCount, stepsPerSecond, pacedSeconds, false, result))
        return std::nullopt;
    std::vector<pollfd> fds;
    for (auto &client : clients)
        fds.push_back({client->fd(), POLLIN, 0});

    // Flat out: each client keeps a window of its own packets in flight.
    constexpr int Window = 32;
    std::vector<int> inFlight(clientCount, 0);
    std::int64_t delivered = 0;
    const std::int64_t fullStart = Stats::nowNs();
    const std::int64_t fullEnd = fullStart + std::int64_t(fullSpeedSeconds * 1e9);
    int seq = 0;
    while (Stats::nowNs() < fullEnd) {
        for (int i = 0; i < clientCount; ++i) {
            QByteArray burst;
            while (inFlight[i] < Window) {
                burst += stepPacket(numbers[i], seq++ % 100000);
                ++inFlight[i];
            }
            if (!burst.isEmpty())
                clients[i]->sendAll(burst);
        }
        if (::poll(fds.data(), nfds_t(fds.size()), 5) <= 0)
            continue;
        const bool open = drain(clients, fds, [&](std::size_t i, const QByteArray &packet) {
            const int sender = parseStep(packet).first;
            if (sender < 0)
                return;
            ++delivered;
            if (sender == numbers[i])
                --inFlight[i];
        });
        if (!open)
            return std::nullopt;
    }
    result.deliveredPerSecond = double(delivered) / (double(Stats::nowNs() - fullStart) / 1e9);
    return result;
}

namespace {

// Relay latency for `clientCount` stepping at a steady rate while `attack`
// runs in a thread of its own until told to stop, counting what it did.
template <typename Attacker>
std::optional<FanoutResult> measureWhile(std::uint16_t port, int clientCount, int stepsPerSecond,
                                         double seconds, Attacker attack)
{
    Clients clients;
    std::vector<int> numbers;
    FanoutResult result;
    if (!joinAll(port, clientCount, clients, numbers))
        return std::nullopt;
    std::atomic<bool> stop = false;
    std::atomic<std::int64_t> attacks = 0;
    const std::int64_t start = Stats::nowNs();
    std::thread attacker([&] { attack(stop, attacks); });
    const bool measured =
        measurePaced(clients, numbers, clientCount, stepsPerSecond, seconds, false, result);
    stop = true;
    attacker.join();
    result.attacksPerSecond = double(attacks) / (double(Stats::nowNs() - start) / 1e9);
    if (!measured)
        return std::nullopt;
    return result;
}

// One address group that connects (and joins) and closes as fast as it can.
void churn(std::uint16_t port, bool join, std::atomic<bool> &stop,
           std::atomic<std::int64_t> &attacks)
{
    constexpr std::uint32_t From = 0x7F000002; // 127.0.0.2
    for (int round = 0; !stop; ++round) {
        RawClient client;
        if (!client.connectTo(port, From))
            continue;
        if (join)
            client.join("churn" + QByteArray::number(round));
        ++attacks;
        // Closed with a reset: no TIME_WAIT left to use up the ports.
        const linger hard{1, 0};
        ::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
}

// Connects from a new loopback address each time (127.1.0.0/16, some
// 65,000 of them, in turn), each closed with a reset at once.
void spreadFlood(std::uint16_t port, std::atomic<bool> &stop, std::atomic<std::int64_t> &attacks)
{
    for (std::uint32_t round = 0; !stop; ++round) {
        RawClient client;
        if (!client.connectTo(port, 0x7F010000 | (round % 65000 + 1)))
            continue;
        ++attacks;
        const linger hard{1, 0};
        ::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
}

// A WebSocket that sends pings and never reads, reconnecting when closed.
void pingFlood(std::uint16_t webPort, std::atomic<bool> &stop, std::atomic<std::int64_t> &attacks)
{
    // Pings as long as they may be (125 bytes), masked as a client's must be:
    // each makes the server write a pong as long.
    QByteArray pings;
    for (int i = 0; i < 256; ++i)
        pings += QByteArray("\x89\xFD\x01\x02\x03\x04", 6) + QByteArray(125, 'p');
    while (!stop) {
        RawClient flooder;
        if (!flooder.connectTo(webPort, 0x7F000002) || !flooder.sendAll(upgradeRequest(webPort))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        ++attacks;
        while (!stop && flooder.sendSome(pings) >= 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// 32 upgrades from 4 groups, each header ended by LF LF; once the server has
// taken the request, 256 KB that never end the header, then a trickle:
// about 15 KB/s in all.
void trickleUpgrades(std::uint16_t webPort, std::atomic<bool> &stop,
                     std::atomic<std::int64_t> &attacks)
{
    std::vector<std::unique_ptr<RawClient>> trickles(32);
    std::vector<bool> filled(trickles.size());
    while (!stop) {
        for (std::size_t i = 0; i < trickles.size(); ++i) {
            auto &t = trickles[i];
            if (t && !filled[i]) {
                filled[i] = t->sendSome(QByteArray(256 * 1024, 'a')) >= 0;
                continue;
            }
            if (t && t->sendSome(QByteArray(16, 'a')) >= 0 && !closedByServer(*t))
                continue;
            t = std::make_unique<RawClient>();
            filled[i] = false;
            if (t->connectTo(webPort, 0x7F000002 + std::uint32_t(i % 4)) &&
                t->sendAll(upgradeRequest(webPort, "\n")))
                ++attacks;
            else
                t.reset();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
}

} // namespace

double ServerFanout::newcomersUnderChurn(std::uint16_t port, int groups, int newcomers, bool spread)
{
    std::atomic<bool> stop = false;
    // An address a group: 127.1.0.1 on, in one /24, or 127.1.0.1, 127.1.1.1
    // and on, each in a /24 of its own; the newcomers come from 127.200 on.
    const auto crowdAddress = [spread](std::size_t group) {
        return spread ? 0x7F010001 + std::uint32_t(group << 8) : 0x7F010001 + std::uint32_t(group);
    };
    std::thread crowd([&] {
        // Two silent connections an address, each renewed at most five times
        // a second: the group's connect budget, ten a second, and no faster.
        std::vector<std::unique_ptr<RawClient>> held(std::size_t(2 * groups));
        std::vector<std::int64_t> renewed(held.size(), 0);
        constexpr std::int64_t RenewNs = 200'000'000;
        while (!stop) {
            for (std::size_t i = 0; i < held.size() && !stop; ++i) {
                auto &h = held[i];
                if (h && !closedByServer(*h))
                    continue;
                const std::int64_t now = Stats::nowNs();
                if (now - renewed[i] < RenewNs)
                    continue;
                renewed[i] = now;
                h = std::make_unique<RawClient>();
                if (!h->connectTo(port, crowdAddress(i / 2)))
                    h.reset();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    // Give the crowd a moment to fill the waiting places.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int joined = 0;
    for (int n = 0; n < newcomers; ++n) {
        RawClient newcomer;
        // Each from a /24 of its own, as people who do not know each other.
        if (!newcomer.connectTo(port, 0x7FC80001 + (std::uint32_t(n % 250) << 8)))
            continue;
        // A round trip on a real network before the join goes out.
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + (n * 37) % 200));
        if (const auto number = newcomer.join("newcomer" + QByteArray::number(n));
            number && *number >= 0)
            ++joined;
    }
    stop = true;
    crowd.join();
    return double(joined) / newcomers;
}

std::optional<FanoutResult> ServerFanout::underAttack(std::uint16_t port, int clientCount,
                                                      int stepsPerSecond, double seconds,
                                                      Attack attack, std::uint16_t webPort)
{
    return measureWhile(port, clientCount, stepsPerSecond, seconds,
                        [&](std::atomic<bool> &stop, std::atomic<std::int64_t> &attacks) {
                            switch (attack) {
                            case Attack::None:
                                return;
                            case Attack::JoinChurn:
                            case Attack::ConnectFlood:
                                return churn(port, attack == Attack::JoinChurn, stop, attacks);
                            case Attack::SpreadConnectFlood:
                                return spreadFlood(port, stop, attacks);
                            case Attack::PingFlood:
                                return pingFlood(webPort, stop, attacks);
                            case Attack::TricklingUpgrades:
                                return trickleUpgrades(webPort, stop, attacks);
                            }
                        });
}

namespace {

// Stayers stepping in turn, one of them saying a line with every tenth step,
// and a place for the newcomer of the round among what is polled.
struct BusyStage
{
    Clients clients;
    std::vector<int> numbers;
    std::vector<pollfd> fds;
    std::int64_t period = 0;
    std::int64_t nextStep = 0;
    int seq = 0;
    int stepper = 0;

    bool join(std::uint16_t port, int stayers, int stepsPerSecond)
    {
        if (!joinAll(port, stayers, clients, numbers))
            return false;
        for (auto &client : clients)
            fds.push_back({client->fd(), POLLIN, 0});
        fds.push_back({-1, POLLIN, 0}); // the newcomer of the round
        period = 1'000'000'000 / stepsPerSecond;
        nextStep = Stats::nowNs();
        return true;
    }
    void keepBusy()
    {
        const int stayers = int(clients.size());
        for (std::int64_t now = Stats::nowNs(); now >= nextStep; nextStep += period) {
            const int i = stepper++ % stayers;
            QByteArray bytes = stepPacket(numbers[std::size_t(i)], seq++ % 100000);
            if (seq % 10 == 0)
                bytes += "\x02[bench" + QByteArray::number(i) + "] - busy\r\n" + '\0';
            clients[std::size_t(i)]->sendAll(bytes);
        }
    }
    // What the stayers get is read and let go; false when one was cut.
    bool drainStayers()
    {
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if ((fds[i].revents & POLLIN) && !clients[i]->readPending())
                return false;
            while (clients[i]->nextPacket()) {
            }
        }
        return true;
    }
    // Keeps busy for `ms`, as the stayers may hear of a newcomer again.
    bool pause(std::int64_t ms)
    {
        const std::int64_t until = Stats::nowNs() + ms * 1'000'000;
        while (Stats::nowNs() < until) {
            keepBusy();
            if (::poll(fds.data(), nfds_t(fds.size()), 1) > 0 && !drainStayers())
                return false;
        }
        return true;
    }
    // A newcomer joins: how long until it has seen every stayer, in ms, and
    // how many packets came in a read, on average, meanwhile.
    std::optional<std::pair<double, double>> newcomer(std::uint16_t port)
    {
        RawClient newcomer;
        if (!newcomer.connectTo(port))
            return std::nullopt;
        const std::int64_t joinedAt = Stats::nowNs();
        if (!newcomer.join("newcomer"))
            return std::nullopt;
        fds.back().fd = newcomer.fd();
        std::vector<bool> seen(10, false);
        int missing = int(clients.size());
        int reads = 0, packets = 0;
        const std::int64_t deadline = joinedAt + 3'000'000'000;
        while (missing > 0 && Stats::nowNs() < deadline) {
            keepBusy();
            if (::poll(fds.data(), nfds_t(fds.size()), 1) <= 0)
                continue;
            if (!drainStayers())
                return std::nullopt;
            if (!(fds.back().revents & POLLIN))
                continue;
            if (!newcomer.readPending())
                return std::nullopt;
            ++reads;
            while (auto packet = newcomer.nextPacket()) {
                ++packets;
                const int sender = parseStep(*packet).first;
                if (sender >= 0 && sender < 10 && !seen[std::size_t(sender)]) {
                    seen[std::size_t(sender)] = true;
                    --missing;
                }
            }
        }
        fds.back().fd = -1;
        if (missing > 0)
            return std::nullopt;
        return std::pair(double(Stats::nowNs() - joinedAt) / 1e6,
                         reads > 0 ? double(packets) / reads : 0);
    }
};

} // namespace

std::optional<NewcomerResult> ServerFanout::newcomers(std::uint16_t port, int stayers,
                                                      int stepsPerSecond, int rounds)
{
    BusyStage stage;
    if (!stage.join(port, stayers, stepsPerSecond))
        return std::nullopt;
    std::vector<double> complete;
    std::vector<double> perRead;
    for (int round = 0; round < rounds; ++round) {
        const auto joined = stage.newcomer(port);
        if (!joined)
            return std::nullopt;
        complete.push_back(joined->first);
        perRead.push_back(joined->second);
        // The next newcomer once the stayers may hear of one again.
        if (!stage.pause(600))
            return std::nullopt;
    }
    NewcomerResult result;
    result.p50Ms = Stats::percentile(complete, 50);
    result.maxMs = *std::max_element(complete.begin(), complete.end());
    result.packetsPerRead = Stats::percentile(perRead, 50);
    return result;
}
