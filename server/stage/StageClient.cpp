// SPDX-License-Identifier: MIT
#include "server/stage/StageClient.h"

#include <algorithm>
#include <limits>

StageClient::StageClient(Link *link, std::shared_ptr<AddressGroup> group, QString peer,
                         qsizetype maxPacket)
    : link(link), group(std::move(group)), peer(std::move(peer)), framer(maxPacket),
      lastNewUserMs(std::numeric_limits<qint32>::min())
{
    for (QTimer *timer : {&resume, &deadline, &newUserDue}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
}

bool StageClient::mayMove(Phase from, Phase to)
{
    switch (from) {
    case Phase::Waiting:
        return to != Phase::Waiting;
    case Phase::OnStage:
        return to == Phase::Leaving || to == Phase::Draining || to == Phase::Gone;
    case Phase::Leaving:
    case Phase::Draining:
        return to == Phase::Gone;
    case Phase::Gone:
        return false;
    }
    return false;
}

void StageClient::stopTimers()
{
    for (QTimer *timer : {&resume, &deadline, &newUserDue})
        timer->stop();
    output.stop();
}

void StageClient::moveTo(Phase to)
{
    Q_ASSERT(mayMove(m_phase, to));
    m_phase = to;
}

void StageClient::announceNewcomer(qint64 nowMs)
{
    if (newUserDue.isActive())
        return; // the one already due answers for this newcomer too
    const qint64 since = nowMs - lastNewUserMs;
    if (since >= NewUserGapMs)
        sendNewUser(nowMs);
    else
        newUserDue.start(int(NewUserGapMs - since));
}

void StageClient::sendNewUser(qint64 nowMs)
{
    if (!isListening())
        return;
    lastNewUserMs = nowMs;
    freeAnswers = std::min(freeAnswers + 1, 2);
    output.sendThenGap(QByteArrayLiteral("NewUser") + '\0');
}
