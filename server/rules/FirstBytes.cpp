// SPDX-License-Identifier: MIT
#include "server/rules/FirstBytes.h"

namespace FirstBytes {

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

Kind of(QByteArrayView first)
{
    if (first.isEmpty())
        return Kind::Undecided;
    // A TLS record of the handshake kind, of TLS 1.x or SSL 3.
    if (first[0] == 0x16) {
        if (first.size() < 2)
            return Kind::Undecided;
        return first[1] == 0x03 ? Kind::Tls : Kind::Stage;
    }
    // A method (letters, in any case) and a blank: the longest method
    // anyone sends is far shorter than Enough.
    if (!isLetter(first[0]))
        return Kind::Stage;
    for (qsizetype i = 1; i < first.size() && i < Enough; ++i) {
        if (first[i] == ' ')
            return Kind::Http;
        if (!isLetter(first[i]) && first[i] != '-' && first[i] != '_')
            return Kind::Stage;
    }
    return first.size() >= Enough ? Kind::Stage : Kind::Undecided;
}

const char *describe(Kind kind)
{
    switch (kind) {
    case Kind::Http:
        return "an HTTP request";
    case Kind::Tls:
        return "a TLS handshake";
    case Kind::Stage:
    case Kind::Undecided:
        break;
    }
    return "stage packets";
}

} // namespace FirstBytes
