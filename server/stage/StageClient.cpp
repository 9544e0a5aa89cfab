// SPDX-License-Identifier: MIT
#include "server/stage/StageClient.h"

#include "net/Protocol.h"
#include "server/rules/RelayRules.h"

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 ReadChunk = 64 * 1024;

StageClient::Input inputOf(StageClient::Input::Kind kind, QByteArray packet = {})
{
    return {kind, std::move(packet), FirstBytes::Kind::Undecided};
}

} // namespace

StageClient::StageClient(Link *link, std::shared_ptr<AddressGroup> group, QString peer,
                         StageFigures::Carrier carrier, quint64 serial, qsizetype maxPacket,
                         Hooks hooks)
    : m_link(link), m_group(std::move(group)), m_peer(std::move(peer)), m_carrier(carrier),
      m_serial(serial), m_hooks(std::move(hooks)), m_framer(maxPacket),
      m_lastNewUserMs(std::numeric_limits<qint32>::min())
{
    for (QTimer *timer : {&m_resume, &m_deadline, &m_newUserDue}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    if (m_hooks.readOn)
        m_resume.callOnTimeout([this] { m_hooks.readOn(*this); });
    if (m_hooks.deadline)
        m_deadline.callOnTimeout([this] { m_hooks.deadline(*this); });
    m_newUserDue.callOnTimeout([this] { sendNewUser(); });
    if (m_hooks.write)
        m_output.setWrite([this](const QByteArray &packet) { m_hooks.write(*this, packet); });
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

void StageClient::moveTo(Phase to)
{
    Q_ASSERT(mayMove(m_phase, to));
    m_phase = to;
}

StageClient::Input StageClient::take(qint64 nowNs)
{
    using Kind = Input::Kind;
    while (!isGone()) {
        if (!m_waiting)
            m_waiting = m_framer.next();
        if (m_waiting) {
            if (!withinBudget(*m_waiting, nowNs))
                return inputOf(Kind::Later);
            const PacketFramer::Frame frame = *std::exchange(m_waiting, std::nullopt);
            if (m_phase == Phase::Draining) {
                m_drainLeft -= frame.size() + 1;
                if (m_drainLeft < 0)
                    return inputOf(Kind::DrainSpent);
            }
            if (frame.overlong > 0)
                return inputOf(Kind::Overlong);
            return inputOf(Kind::Packet, frame.packet);
        }
        if (m_framer.overflowed())
            return inputOf(Kind::Overflowed);
        if (auto decided = readIn())
            return *decided;
    }
    return inputOf(Kind::Nothing);
}

std::optional<StageClient::Input> StageClient::readIn()
{
    if (m_link->bytesAvailable() <= 0)
        return inputOf(Input::Kind::Nothing);
    QByteArray bytes = m_link->read(ReadChunk);
    if (!m_speaksStage) {
        m_opening += bytes;
        const FirstBytes::Kind kind = FirstBytes::of(m_opening);
        if (kind == FirstBytes::Kind::Undecided)
            return std::nullopt;
        if (kind != FirstBytes::Kind::Stage)
            return Input{Input::Kind::NotStage, {}, kind};
        m_speaksStage = true;
        bytes = std::exchange(m_opening, {});
    }
    m_framer.append(bytes);
    return std::nullopt;
}

bool StageClient::withinBudget(const PacketFramer::Frame &frame, qint64 nowNs)
{
    const QByteArray &packet = frame.packet;
    // The presence answer a "NewUser" asks for is free: a crowd coming and
    // going cannot spend the budgets of those already on the stage.
    if (m_freeAnswers > 0 && hasJoined() && packet.startsWith(char(Protocol::RelayMarker)) &&
        RelayRules::isPresenceAnswer(QByteArrayView(packet).sliced(1))) {
        --m_freeAnswers;
        return true;
    }
    const bool joining = !hasJoined() && packet.startsWith(char(Protocol::JoinMarker));
    const qint64 wait = m_group->spend(nowNs, frame.size() + 1, joining);
    // Over budget: the packet and what follows wait, the rest in its own
    // socket, until the budget refills; nothing is lost and nobody else
    // waits for it.
    if (wait > 0 && !m_resume.isActive())
        m_resume.start(int(wait / 1'000'000) + 1);
    return wait == 0;
}

void StageClient::join(int number, QByteArray name, QByteArray shownName, QString lookAlike)
{
    // A Draining client's deadline is its drain's: it still holds.
    if (m_phase == Phase::Waiting) {
        m_deadline.stop();
        moveTo(Phase::OnStage);
    }
    m_number = number;
    m_joinedMs = m_hooks.nowMs();
    m_name = std::move(name);
    m_shownName = std::move(shownName);
    m_lookAlike = std::move(lookAlike);
}

bool StageClient::leave(const QString &why, Link::Failure failure)
{
    if (!isListening())
        return false;
    m_why = why;
    m_failure = failure;
    if (m_link->isOpen()) {
        moveTo(Phase::Leaving);
    } else {
        moveTo(Phase::Draining);
        m_drainLeft = MaxDrainBytes;
        m_deadline.start(MaxDrainMs);
    }
    return true;
}

void StageClient::end()
{
    moveTo(Phase::Gone);
    for (QTimer *timer : {&m_resume, &m_deadline, &m_newUserDue})
        timer->stop();
    m_output.stop();
}

void StageClient::send(const QByteArray &packet, Then then)
{
    if (!isListening())
        return;
    if (then == Then::Apart)
        m_output.sendThenGap(packet);
    else
        m_output.send(packet);
}

void StageClient::announceNewcomer()
{
    if (m_newUserDue.isActive())
        return; // the one already due answers for this newcomer too
    const qint64 since = m_hooks.nowMs() - m_lastNewUserMs;
    if (since >= NewUserGapMs)
        sendNewUser();
    else
        m_newUserDue.start(int(NewUserGapMs - since));
}

void StageClient::sendNewUser()
{
    if (!isListening())
        return;
    m_lastNewUserMs = m_hooks.nowMs();
    m_freeAnswers = std::min(m_freeAnswers + 1, 2);
    m_output.sendThenGap(QByteArrayLiteral("NewUser") + '\0');
}

std::optional<int> StageClient::countNotRelayed(qint64 nowMs, qint64 intervalMs)
{
    ++m_notRelayed;
    if (m_notRelayedLoggedMs >= 0 && nowMs - m_notRelayedLoggedMs < intervalMs)
        return std::nullopt;
    m_notRelayedLoggedMs = nowMs;
    return std::exchange(m_notRelayed, 0);
}
