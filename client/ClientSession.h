// SPDX-License-Identifier: MIT
#pragma once

#include "chat/IgnoreList.h"
#include "chat/Transcript.h"
#include "net/Packets.h"
#include "net/ReceivedStream.h"
#include "stage/AvatarImage.h"
#include "stage/StageRules.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

class QTimer;
class Wsk;

// Everything the client knows and does, without a window: the connection,
// the dispatch of what the server sends, the own client number, avatar and
// facing, the 21 avatar images of the stage, the position readout and the
// transcript. A window shows its state and calls its commands; it tells the
// window what changed through its signals.
class ClientSession : public QObject
{
    Q_OBJECT
public:
    // Bound on Action packets waiting for the next tick; the oldest go first.
    static constexpr qsizetype MaxQueuedActions = 4096;
    // What pressing Enter with a chat line came to.
    enum class ChatResult
    {
        Sent,
        Ignored, // nothing to send, not connected, or the same Enter again
        NotSent, // the connection is not open; a transcript line says so
        Refused  // the server would refuse it: it stays with the user, and
                 // chatRefusal() and a transcript line say why
    };

    explicit ClientSession(QObject *parent = nullptr);
    ~ClientSession() override;

    // Right after the join packet, a chat line and a step to the left,
    // pending events get one turn; the application says how (the default
    // gives them none). Tests put their own here.
    void setPause(std::function<void()> pause) { m_pause = std::move(pause); }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setTimeLocale(const QLocale &locale) { m_locale = locale; }
    // The port used when the address names none.
    void setDefaultPort(quint16 port) { m_defaultPort = port; }

    int State() const;
    // Whether the connection is closed (not connecting, open or failing).
    bool isClosed() const;
    // The number the server gave this connection; nothing until it has.
    std::optional<qint64> number() const;
    // The number as it goes in packets, exactly as the server sent its
    // digits; "0" until the server gives one.
    const QString &numberText() const { return m_clientNumber; }
    bool numbered() const { return m_numbered; }
    // The own image on the stage: the one the client number names.
    std::optional<int> ownImage() const;
    // The chosen avatar: its wire code and the name the user reads.
    QString code() const;
    QString displayName() const;
    Direction facing() const { return m_facing; }
    const QString &UserName() const { return m_userName; }
    const QString &LastPacket() const { return m_lastPacket; }
    // The last piece of the last read, whatever it was.
    const QString &lastPiece() const { return m_lastPiece; }
    const AvatarImage &image(int index) const { return m_images[std::size_t(index)]; }
    // The own image's left edge as text; empty until the first refresh.
    const QString &readout() const { return m_readout; }
    Transcript &transcript() { return m_transcript; }
    // Why the last line typed was not sent; empty once one is.
    const QString &chatRefusal() const { return m_chatRefusal; }
    qsizetype queuedActions() const { return m_actionQueue.size(); }
    // Whom the user looks away from; nothing of it goes on the wire.
    const IgnoreList &ignoring() const { return m_ignoring; }
    // The image as the stage shows it: hidden while it is ignored.
    AvatarImage shownImage(int index) const;
    // Any image on the stage but the own one; false when it cannot be.
    bool ignoreClient(int index);
    // Any speaker but the user under the name they joined with.
    bool ignoreSpeaker(const QString &name);
    void stopIgnoring(qsizetype entry);

    // Connects as `userName` to what the user typed as the server address,
    // when the connection is closed; false (and nothing done) otherwise.
    bool connectTo(const QString &userName, const QString &address);
    void close();
    // While the connection is closed: the avatar of this selection picture.
    void selectAvatar(QStringView selection);
    void walk(Direction dir);
    ChatResult sendChat(const QString &text);
    // Stands an image at a left edge, as a remote update would (for the
    // screenshot tool and tests that need an avatar somewhere).
    void placeImage(int index, float left);
    void stampTime();
    void appendToTranscript(QStringView text);
    // Brings the position readout up to date once the event loop runs.
    void refreshReadout();
    // What one read of the socket brought: every piece it completes is
    // dispatched; the rest of an unfinished packet waits for the next read.
    void receive(QStringView received);
    // Stops the connection and the timers for good.
    void end();

signals:
    void numberChanged(qint64 number);
    void lastPieceChanged(const QString &piece);
    void avatarChanged();
    void facingChanged();
    void imageChanged(int index);
    void readoutChanged(const QString &text);
    void transcriptChanged();
    void chatRefusalChanged(const QString &reason);
    void ignoringChanged();

private:
    // The one test seam: tests, the fuzzer and the benchmark reach the timers,
    // the socket and their handlers by their names through SessionProbe.
    friend class SessionProbe;

    // Handlers of the socket's and the timers' events.
    void Wsk_Connect();
    void Wsk_DataArrival();
    void Wsk_Dropped(bool wasConnected, const QString &reason);
    void Wsk_Untrusted(const QString &reason);
    void SendUsersYourData_Timer();
    void Action_Timer();
    void Constant_Timer();

    void dispatch(const QString &piece);
    void takeNumber(const QString &piece);
    void clearStage();
    void setChatRefusal(const QString &reason);
    void showLine(const QString &piece);
    void pause();

    // The window's three timers and the socket, by their names.
    QTimer *const Constant;
    QTimer *const SendUsersYourData;
    QTimer *const Action;
    ::Wsk *const Wsk;

    std::function<void()> m_pause;
    std::function<QDateTime()> m_clock;
    QLocale m_locale = QLocale::system();
    quint16 m_defaultPort;
    QString m_userName;
    QString m_lastPacket;
    QString m_lastPiece;
    QString m_clientNumber = QStringLiteral("0");
    bool m_numbered = false; // this connection's number has come
    int m_avatar;            // row of the roster
    Direction m_facing = Direction::Left;
    std::array<AvatarImage, StageRules::ImageCount> m_images;
    QString m_readout;
    Transcript m_transcript;
    IgnoreList m_ignoring;
    QStringList m_actionQueue;
    ReceivedStream m_stream;
    QString m_chatRefusal;
    bool m_sendingChat = false;
    bool m_walking = false;
    bool m_ended = false;
};
