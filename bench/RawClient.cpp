// SPDX-License-Identifier: MIT
#include "RawClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

RawClient::~RawClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RawClient::connectTo(std::uint16_t port, std::uint32_t from)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    if (from != 0) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(from);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        return false;
    int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

std::optional<int> RawClient::join(const QByteArray &name)
{
    if (!sendAll("\x0A" + name + '\0'))
        return std::nullopt;
    for (int i = 0; i < 200 && m_buffer.size() - m_start < 13; ++i) {
        pollfd p{m_fd, POLLIN, 0};
        ::poll(&p, 1, 10);
        if (!readPending())
            return std::nullopt;
    }
    return takeClientNumber();
}

std::optional<int> RawClient::takeClientNumber()
{
    if (m_buffer.size() - m_start < 13 ||
        !QByteArrayView(m_buffer).sliced(m_start).startsWith("ClientNumber"))
        return std::nullopt;
    const int number = m_buffer[m_start + 12] - '0';
    m_start += 13;
    return number;
}

bool RawClient::sendAll(const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

qsizetype RawClient::sendSome(QByteArrayView bytes)
{
    const ssize_t n = ::send(m_fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL);
    if (n >= 0)
        return n;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
}

bool RawClient::readPending()
{
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            m_buffer.append(chunk, n);
            continue;
        }
        if (n == 0)
            return false;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

bool RawClient::readOnce()
{
    char chunk[16384];
    const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
    if (n > 0)
        m_buffer.append(chunk, n);
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

std::optional<QByteArray> RawClient::nextPacket()
{
    const qsizetype end = m_buffer.indexOf('\0', m_start);
    if (end < 0) {
        if (m_start > 0) {
            m_buffer.remove(0, m_start);
            m_start = 0;
        }
        return std::nullopt;
    }
    QByteArray packet = m_buffer.mid(m_start, end - m_start);
    m_start = end + 1;
    return packet;
}
