// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>

// A bare non-blocking TCP client for driving the server at full speed without
// an event loop in the way.
class RawClient
{
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // From 127.0.0.1, or from another loopback address (host order) when given.
    bool connectTo(std::uint16_t port, std::uint32_t from = 0);
    // Sends "\x0A name \0" and waits for "ClientNumber" and the digit.
    std::optional<int> join(const QByteArray &name);
    // The client number, once "ClientNumber" and its digit are in the buffer
    // (they come first, without a terminator); taken from the buffer.
    std::optional<int> takeClientNumber();
    // Writes all of it (briefly blocking if the socket is full).
    bool sendAll(const QByteArray &bytes);
    // Writes what the socket takes now, without waiting; how much, or -1.
    qsizetype sendSome(QByteArrayView bytes);
    // Reads what is pending into the buffer; false when the connection ended.
    bool readPending();
    // One read of what is pending, for a caller that polls again anyway;
    // false when the connection ended.
    bool readOnce();
    // The next complete 0x00-terminated packet in the buffer, without terminator.
    std::optional<QByteArray> nextPacket();
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    QByteArray m_buffer;
    qsizetype m_start = 0;
};
