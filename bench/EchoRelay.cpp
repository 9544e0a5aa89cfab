// SPDX-License-Identifier: MIT
#include "EchoRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Listeners are told apart from connections by this bit of the epoll data.
constexpr std::uint64_t ListenerBit = std::uint64_t(1) << 63;

} // namespace

EchoRelay::EchoRelay(int count) : m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    for (int stage = 0; stage < count; ++stage) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), length) != 0 ||
            ::listen(fd, 64) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
            continue;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = ListenerBit | std::uint64_t(m_listeners.size());
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        m_listeners.push_back(fd);
        m_ports.push_back(ntohs(addr.sin_port));
        m_members.emplace_back();
    }
}

EchoRelay::~EchoRelay()
{
    for (const Connection &c : m_connections) {
        if (c.fd >= 0)
            ::close(c.fd);
    }
    for (const int fd : m_listeners)
        ::close(fd);
    ::close(m_epoll);
}

void EchoRelay::serve()
{
    epoll_event events[512];
    for (;;) {
        const int n = ::epoll_wait(m_epoll, events, 512, -1);
        for (int e = 0; e < n; ++e) {
            const std::uint64_t data = events[e].data.u64;
            if (data & ListenerBit)
                accept(int(data & ~ListenerBit));
            else
                readFrom(data);
        }
    }
}

void EchoRelay::accept(int stage)
{
    for (;;) {
        const int fd =
            ::accept4(m_listeners[stage], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = m_connections.size();
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        m_members[stage].push_back(m_connections.size());
        m_connections.push_back({fd, stage, {}});
    }
}

void EchoRelay::readFrom(std::size_t id)
{
    Connection &c = m_connections[id];
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            c.buffer.append(chunk, n);
            if (std::size_t(n) == sizeof chunk)
                continue;
            break;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            ::close(c.fd);
            c.fd = -1;
            std::erase(m_members[c.stage], id);
            return;
        }
        break;
    }
    qsizetype start = 0;
    for (qsizetype end; (end = c.buffer.indexOf('\0', start)) >= 0; start = end + 1) {
        const QByteArray packet = c.buffer.mid(start, end - start);
        if (packet.startsWith('\x0A')) {
            const auto &members = m_members[c.stage];
            const auto place = std::find(members.begin(), members.end(), id) - members.begin();
            const QByteArray number = "ClientNumber" + QByteArray::number(place % 10);
            ::send(c.fd, number.constData(), size_t(number.size()), MSG_NOSIGNAL);
        } else if (packet.startsWith('\x02')) {
            relay(c.stage, packet.sliced(1) + '\0');
        }
    }
    c.buffer.remove(0, start);
}

void EchoRelay::relay(int stage, const QByteArray &packet)
{
    for (const std::size_t id : m_members[stage])
        ::send(m_connections[id].fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL);
}
