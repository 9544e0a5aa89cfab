// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>
#include <utility>

// The head of one HTTP/1 request, as the page and the figures' endpoint read
// it: the request line and the header fields, names in lower case. Neither
// reads a body: a request that announces one is not theirs to answer.
struct HttpRequest
{
    QByteArray method; // as sent: methods are case-sensitive
    QByteArray target;
    int minorVersion = 1; // HTTP/1.x
    QList<std::pair<QByteArray, QByteArray>> fields;
    bool crlf = true; // every line ended CR LF, as a WebSocket handshake must

    // The value of a field, its first occurrence; empty when absent.
    QByteArray field(QByteArrayView name) const;
    bool has(QByteArrayView name) const;
    // The target's path, without its query.
    QByteArray path() const;
    // Whether the connection stays open after the answer: HTTP/1.1 unless
    // it says "close", HTTP/1.0 only when it says "keep-alive".
    bool keepsAlive() const;
    bool announcesBody() const;
    // Whether a field's comma-separated list holds a token, in any case.
    bool listHas(QByteArrayView name, QByteArrayView token) const;

    // A whole head, blank line included; nothing when it is not one.
    static std::optional<HttpRequest> parse(QByteArrayView head);
};

// Collects a request head from bytes as they come, bounded: every byte is
// looked at once, and a head that has not ended within `max` bytes is
// refused without being kept.
class HttpRequestReader
{
public:
    enum class State
    {
        Reading,
        Complete,
        TooLarge
    };

    explicit HttpRequestReader(qsizetype max) : m_max(max) {}

    State append(QByteArrayView bytes);
    State state() const { return m_state; }
    // With Complete: the head's length, blank line included; what follows
    // it is the next request's or the WebSocket's, and not kept here.
    qsizetype headLength() const { return m_headLength; }
    QByteArrayView head() const { return QByteArrayView(m_bytes).first(m_headLength); }
    void reset();

private:
    qsizetype m_max;
    QByteArray m_bytes;
    qsizetype m_headLength = 0;
    int m_newlines = 0; // in a row, a CR between them allowed
    State m_state = State::Reading;
};
