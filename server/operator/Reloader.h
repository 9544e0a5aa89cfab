// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

class StageDoor;
class StageServer;
class WebFront;

// Reads the operator's files again, as SIGHUP asks: the certificate and key
// (for new connections; those open keep theirs) and the ban list (which
// removes whoever it now bans). A file that cannot be read leaves what was
// read before in force, and the log says so. A ban with an expiry ends by
// itself: the bans are read again at that time.
class Reloader
{
public:
    using Log = std::function<void(const QString &line)>;

    // `web` may be null; empty paths are not read.
    Reloader(StageServer &stage, StageDoor &door, WebFront *web, QString certificateFile,
             QString keyFile, QString banFile, Log log);

    void reload();
    void reloadTls();
    void reloadBans();
    // Reads the bans again at this time (since the epoch, in seconds), when
    // the soonest of them expires.
    void expireAt(qint64 secs);
    // Changes the bans as `edit` changes the ban file's text, writes the file
    // whole (or, without one, keeps the text in memory) and applies it at
    // once; false, and why, when the file cannot be read or written.
    using Edit = std::function<QByteArray(QByteArrayView text)>;
    bool changeBans(const Edit &edit, QString *why);
    // The ban file's text, or the bans kept in memory without one.
    std::optional<QByteArray> banText(QString *why) const;
    const QString &banFile() const { return m_banFile; }
    // For the test of a crash in the middle of writing the ban file.
    void crashMidWrite() { m_crashMidWrite = true; }

private:
    StageServer &m_stage;
    StageDoor &m_door;
    WebFront *m_web;
    const QString m_certificateFile;
    const QString m_keyFile;
    void applyBans(QByteArrayView text);

    const QString m_banFile;
    QByteArray m_memoryBans; // without a ban file
    Log m_log;
    QTimer m_expiry; // reads the bans again when the next one expires
    bool m_crashMidWrite = false;
};
