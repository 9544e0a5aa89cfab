// SPDX-License-Identifier: MIT
// libFuzzer target: everything the client does with text read from the
// server, through the real session without a window: decode, cut into
// pieces, dispatch, take the number, queue and apply Action packets,
// answer newcomers, keep the transcript.
#include "client/ClientSession.h"
#include "client/SessionProbe.h"
#include "net/Cp1252.h"

#include <QCoreApplication>
#include <QTimer>
#include <cmath>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv); // the session's timers want one
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    ClientSession session;
    const SessionProbe probe(session);
    session.receive(Cp1252::decode(QByteArrayView(data, qsizetype(size))));
    // What the timers would do at the next tick.
    probe.Action_Timer();
    probe.SendUsersYourData_Timer();
    probe.Constant_Timer();
    check(session.queuedActions() == 0 && probe.settled());
    check(session.transcript().text().size() <= Transcript::MaxLength);
    check(session.numberText().size() <= 13);
    for (int i = 0; i < StageRules::ImageCount; ++i)
        check(std::isfinite(session.image(i).Left()) && std::isfinite(session.image(i).Top()));
    return 0;
}
