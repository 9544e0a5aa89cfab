// SPDX-License-Identifier: MIT
#include "net/ReceivedStream.h"

#include "net/Protocol.h"
#include "net/ReceivedText.h"

void ReceivedStream::feed(QStringView read, const std::function<void(QStringView)> &take)
{
    if (m_skipping) {
        const qsizetype end = read.indexOf(QChar(0));
        if (end < 0)
            return;
        read = read.mid(end + 1);
        m_skipping = false;
    }
    QString joined;
    if (!m_carried.isEmpty()) {
        joined = std::exchange(m_carried, {});
        joined += read;
        read = joined;
    }
    const qsizetype last = read.lastIndexOf(QChar(0));
    QStringView tail = read.mid(last + 1);
    if (last >= 0)
        ReceivedText::forEachPiece(read.first(last), take);
    while (const qsizetype length = ReceivedText::numberLength(tail)) {
        take(tail.first(length));
        tail = tail.mid(length);
    }
    // A whole packet that a server may send without its terminator: held
    // back, it would wait for a 0x00 that may never come and swallow the
    // next packet.
    if (tail == Protocol::NewUser) {
        take(tail);
        tail = {};
    }
    if (tail.size() > MaxCarried)
        m_skipping = true;
    else
        m_carried = tail.toString();
}

void ReceivedStream::reset()
{
    m_carried.clear();
    m_skipping = false;
}
