// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>

// What a connection to the stage port speaks, from its first bytes. A stage
// client's first packet begins with a marker byte; a browser that a page of
// any site sends to the port begins with an HTTP request line, and a TLS
// client that knocks on the plain port with a ClientHello. Neither may be
// read as packets: a request's body, or a ClientHello's bytes, can hold
// whatever packets its sender chose.
namespace FirstBytes {

enum class Kind
{
    Undecided, // too few bytes yet
    Stage,
    Http,
    Tls,
};

// Decided within Enough bytes at the most.
inline constexpr qsizetype Enough = 24;

Kind of(QByteArrayView first);

// "an HTTP request" or "a TLS handshake", for the log.
const char *describe(Kind kind);

} // namespace FirstBytes
