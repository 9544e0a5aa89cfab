// SPDX-License-Identifier: MIT
#include "client/ClientSession.h"

#include "stage/StagePeople.h"

#include "chat/ChatRules.h"
#include "chat/TimeStamp.h"
#include "net/Cp1252.h"
#include "net/PositionText.h"
#include "net/Protocol.h"
#include "net/ReceivedText.h"
#include "net/ServerAddress.h"
#include "net/Wsk.h"
#include "stage/RemoteUpdate.h"
#include "stage/Roster.h"

#include <QTimer>

namespace {

QTimer *makeTimer(QObject *parent, const QString &name)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(name);
    timer->setInterval(0); // as soon as the event loop is idle
    timer->setSingleShot(true);
    return timer;
}

} // namespace

ClientSession::ClientSession(QObject *parent)
    : QObject(parent), Constant(makeTimer(this, QStringLiteral("Constant"))),
      SendUsersYourData(makeTimer(this, QStringLiteral("SendUsersYourData"))),
      Action(makeTimer(this, QStringLiteral("Action"))), Wsk(new ::Wsk(this)), m_pause([] {}),
      m_clock([] { return QDateTime::currentDateTime(); }), m_defaultPort(Protocol::DefaultPort),
      m_avatar(Roster::DefaultRow)
{
    Wsk->setObjectName(QStringLiteral("Wsk"));
    connect(Wsk, &Wsk::ConnectEvent, this, &ClientSession::Wsk_Connect);
    connect(Wsk, &Wsk::DataArrival, this, &ClientSession::Wsk_DataArrival);
    connect(Wsk, &Wsk::Dropped, this, &ClientSession::Wsk_Dropped);
    connect(Wsk, &Wsk::Untrusted, this, &ClientSession::Wsk_Untrusted);
    connect(Constant, &QTimer::timeout, this, &ClientSession::Constant_Timer);
    connect(SendUsersYourData, &QTimer::timeout, this, &ClientSession::SendUsersYourData_Timer);
    connect(Action, &QTimer::timeout, this, &ClientSession::Action_Timer);
}

ClientSession::~ClientSession()
{
    // The socket's last signals while it goes must not reach a handler.
    Wsk->disconnect(this);
}

int ClientSession::State() const
{
    return Wsk->State();
}

QString ClientSession::code() const
{
    return Roster::rows()[std::size_t(m_avatar)].code.toString();
}

QString ClientSession::displayName() const
{
    return Roster::rows()[std::size_t(m_avatar)].displayName.toString();
}

std::optional<qint64> ClientSession::number() const
{
    if (!m_numbered)
        return std::nullopt;
    bool ok = false;
    const qint64 n = m_clientNumber.toLongLong(&ok); // at most 13 digits
    return ok ? std::optional(n) : std::nullopt;
}

bool ClientSession::isClosed() const
{
    return State() == Wsk::sckClosed;
}

std::optional<int> ClientSession::ownImage() const
{
    return StageRules::imageIndex(m_clientNumber);
}

void ClientSession::pause()
{
    m_pause();
}

// ---- connection

bool ClientSession::connectTo(const QString &userName, const QString &address)
{
    if (!isClosed())
        return false;
    m_userName = userName;
    m_numbered = false;
    m_stream.reset();
    m_actionQueue.clear(); // steps of the last connection's stage
    const auto server = ServerAddress::parse(address, m_defaultPort);
    if (!server || server->port == 0) { // port 0 is for listening, not a server's
        appendToTranscript(
            address.trimmed().isEmpty()
                ? tr("Could not connect: no server address given\r\n")
                : tr("Could not connect: \"%1\" is not a server address\r\n").arg(address));
        return true;
    }
    Wsk->setRemoteHost(server->host);
    Wsk->setRemotePort(server->port);
    Wsk->setTls(server->tls);
    Wsk->Connect();
    return true;
}

void ClientSession::close()
{
    Wsk->Close();
}

void ClientSession::end()
{
    if (m_ended)
        return;
    m_ended = true;
    Wsk->Close();
    Constant->stop();
    SendUsersYourData->stop();
    Action->stop();
}

void ClientSession::Wsk_Connect()
{
    appendToTranscript(TimeStamp::connectedLine(m_clock(), m_locale, Wsk->encrypted()));
    Wsk->SendData(Packets::join(m_userName));
    pause();
}

void ClientSession::Wsk_Dropped(bool wasConnected, const QString &reason)
{
    const QString line =
        wasConnected ? tr("The connection to %1 ended: %2") : tr("Could not connect to %1: %2");
    appendToTranscript(line.arg(Wsk->RemoteHost(), reason) + QStringLiteral("\r\n"));
}

void ClientSession::Wsk_Untrusted(const QString &reason)
{
    appendToTranscript(
        tr("Could not connect: the server's certificate is not trusted: %1\r\n").arg(reason));
}

void ClientSession::Wsk_DataArrival()
{
    receive(Wsk->GetData());
}

void ClientSession::receive(QStringView received)
{
    QString last;
    m_stream.feed(received, [this, &last](QStringView piece) {
        if (m_ended)
            return;
        last = piece.toString();
        dispatch(last);
    });
    if (!last.isEmpty() && !m_ended) {
        m_lastPiece = last;
        emit lastPieceChanged(m_lastPiece);
    }
}

void ClientSession::dispatch(const QString &piece)
{
    switch (ReceivedText::kind(piece)) {
    case PacketKind::ClientNumber:
        takeNumber(piece);
        break;
    case PacketKind::NewUser:
        m_lastPacket = piece;
        SendUsersYourData->start();
        break;
    case PacketKind::Action:
        m_lastPacket = piece;
        if (m_actionQueue.size() >= MaxQueuedActions)
            m_actionQueue.removeFirst();
        m_actionQueue.append(piece);
        Action->start();
        break;
    case PacketKind::Chat:
        showLine(piece);
        break;
    case PacketKind::Unknown:
        break;
    }
}

void ClientSession::takeNumber(const QString &piece)
{
    // Only the first number of a connection counts: any peer can have a
    // "ClientNumber" text relayed to everyone later on.
    const QString digits = ReceivedText::clientNumber(piece);
    if (m_numbered || digits.isEmpty())
        return;
    m_numbered = true;
    m_clientNumber = digits;
    // A new connection is a new stage: whoever stood on the last one may
    // have left meanwhile, and the own number may have been someone else's.
    clearStage();
    emit numberChanged(*number());
    Constant->start();
    // Stand on every stage, the own one too, before the first step.
    SendUsersYourData->start();
}

// ---- stage

void ClientSession::selectAvatar(QStringView selection)
{
    if (!isClosed())
        return;
    const AvatarRow *row = Roster::bySelection(selection);
    if (!row)
        return;
    m_avatar = int(row - Roster::rows().data());
    emit avatarChanged();
}

void ClientSession::walk(Direction dir)
{
    // Before this connection has its number, a step would speak as client 0.
    // A click queued behind a step to the left runs inside that step's pause:
    // it would send from a place the image has not reached yet.
    if (isClosed() || !m_numbered || m_walking)
        return;
    if (m_facing != dir) {
        m_facing = dir;
        emit facingChanged();
    }
    auto n = ownImage();
    if (!n || !StageRules::mayStep(dir, m_images[std::size_t(*n)].Left()))
        return;
    AvatarImage &own = m_images[std::size_t(*n)];
    // The step lands where the packet says, even when the server's echo of
    // the packet was applied during the pause: stepping from wherever the
    // image stands then would take it two steps.
    const float target = StageRules::stepped(dir, own.Left());
    Wsk->SendData(Packets::move(dir, m_clientNumber, code(), own.Left(), own.Top()));
    if (dir == Direction::Left) {
        m_walking = true;
        pause();
        m_walking = false;
        if (m_ended)
            return; // the window closed during the pause: nothing is shown any more
    }
    own.setLeft(target);
    emit imageChanged(*n);
    Constant->start();
}

void ClientSession::showLine(const QString &piece)
{
    const qsizetype ignored = m_ignoring.entries().size();
    switch (m_ignoring.take(piece)) {
    case IgnoreList::Line::Shown:
        appendToTranscript(piece + QStringLiteral("\r\n")); // one change, as one line
        break;
    case IgnoreList::Line::Placeholder:
        appendToTranscript(IgnoreList::placeholder(*IgnoreList::speakerOf(piece)) +
                           QStringLiteral("\r\n"));
        break;
    case IgnoreList::Line::Hidden:
        break;
    }
    if (m_ignoring.entries().size() != ignored)
        emit ignoringChanged(); // a leave ended one
}

AvatarImage ClientSession::shownImage(int index) const
{
    AvatarImage image = m_images[std::size_t(index)];
    if (m_ignoring.hidesNumber(index))
        image.hide();
    return image;
}

bool ClientSession::ignoreClient(int index)
{
    if (index < 0 || index >= StageRules::ImageCount || index == ownImage() ||
        !m_ignoring.ignoreNumber(index))
        return false;
    emit ignoringChanged();
    emit imageChanged(index);
    return true;
}

bool ClientSession::ignoreSpeaker(const QString &name)
{
    if (name == m_userName || !m_ignoring.ignoreName(name))
        return false;
    emit ignoringChanged();
    return true;
}

void ClientSession::stopIgnoring(qsizetype entry)
{
    if (entry < 0 || entry >= m_ignoring.entries().size())
        return;
    const int number = m_ignoring.entries()[entry].number;
    m_ignoring.remove(entry);
    emit ignoringChanged();
    if (number >= 0)
        emit imageChanged(number);
}

void ClientSession::clearStage()
{
    if (!m_ignoring.entries().isEmpty()) {
        m_ignoring.clear(); // a new stage: whoever was ignored may be anyone now
        emit ignoringChanged();
    }
    for (std::size_t i = 0; i < m_images.size(); ++i) {
        m_images[i] = AvatarImage();
        emit imageChanged(int(i));
    }
}

void ClientSession::placeImage(int index, float left)
{
    if (index < 0 || index >= StageRules::ImageCount)
        return;
    m_images[std::size_t(index)].setLeft(left);
    emit imageChanged(index);
    if (index == ownImage())
        Constant->start();
}

void ClientSession::SendUsersYourData_Timer()
{
    const auto n = ownImage();
    if (!isClosed() && m_numbered && n)
        Wsk->SendData(
            Packets::presence(m_facing, m_clientNumber, code(), m_images[std::size_t(*n)].Left()));
}

void ClientSession::Action_Timer()
{
    const QStringList queued = std::exchange(m_actionQueue, {});
    const auto own = ownImage();
    for (const QString &packet : queued) {
        const ActionUpdate update = RemoteUpdate::parse(packet);
        if (update.index < 0)
            continue;
        AvatarImage &image = m_images[std::size_t(update.index)];
        RemoteUpdate::apply(update, image, StageRules::GroundTop);
        if (m_ignoring.hidesNumber(update.index) && !StagePeople::onStage(image)) {
            m_ignoring.leftStage(update.index); // whoever comes next under it is someone else
            emit ignoringChanged();
        }
        emit imageChanged(update.index);
        if (update.index == own)
            Constant->start();
    }
}

void ClientSession::refreshReadout()
{
    Constant->start();
}

void ClientSession::Constant_Timer()
{
    const auto n = ownImage();
    if (!n)
        return;
    const QString text = PositionText::format(m_images[std::size_t(*n)].Left());
    if (text == m_readout)
        return;
    m_readout = text;
    emit readoutChanged(m_readout);
}

// ---- chat

void ClientSession::appendToTranscript(QStringView text)
{
    m_transcript.append(text);
    emit transcriptChanged();
}

ClientSession::ChatResult ClientSession::sendChat(const QString &text)
{
    if (text.isEmpty() || isClosed())
        return ChatResult::Ignored;
    if (m_sendingChat)
        return ChatResult::Ignored; // an Enter queued behind the one being sent
    // Held to the server's own rules first: a line it would refuse stays
    // with the user, and a long one goes as several lines.
    const ChatRules::Outgoing out =
        ChatRules::outgoing(Cp1252::encode(m_userName), Cp1252::encode(text));
    if (!out.refusal.isEmpty()) {
        setChatRefusal(Cp1252::decode(out.refusal));
        appendToTranscript(m_chatRefusal + QStringLiteral("\r\n"));
        return ChatResult::Refused;
    }
    for (const QByteArray &piece : out.texts) {
        // Every piece goes in one go, so the connection cannot close between them.
        if (!Wsk->SendData(Packets::chatLine(m_userName, Cp1252::decode(piece)))) {
            appendToTranscript(tr("Not sent, the connection is not open: %1\r\n").arg(text));
            return ChatResult::NotSent;
        }
    }
    setChatRefusal({});
    m_sendingChat = true;
    pause();
    m_sendingChat = false;
    return ChatResult::Sent;
}

void ClientSession::setChatRefusal(const QString &reason)
{
    if (reason == m_chatRefusal)
        return;
    m_chatRefusal = reason;
    emit chatRefusalChanged(m_chatRefusal);
}

void ClientSession::stampTime()
{
    appendToTranscript(TimeStamp::line(m_clock(), m_locale));
}
