// SPDX-License-Identifier: MIT
// libFuzzer target: the server's inbound framing. The input is cut into
// reads at every 0xFF byte, so that packets also arrive split across reads.
#include "net/PacketFramer.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    constexpr qsizetype Bound = 4096;
    PacketFramer framer(Bound);
    const QByteArrayView input(data, qsizetype(size));
    qsizetype start = 0;
    qsizetype taken = 0;
    while (start <= input.size()) {
        qsizetype end = input.indexOf('\xFF', start);
        if (end < 0)
            end = input.size();
        framer.append(input.sliced(start, end - start));
        while (const auto frame = framer.next()) {
            const QByteArray &packet = frame->packet;
            if (packet.size() > Bound || packet.contains('\0') ||
                (frame->overlong > 0 && (frame->overlong <= Bound || !packet.isEmpty())))
                std::abort();
            taken += frame->size() + 1;
        }
        if (framer.buffered() > qsizetype(size) || taken > qsizetype(size))
            std::abort();
        if (framer.overflowed() && framer.next())
            std::abort();
        start = end + 1;
    }
    return 0;
}
