// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <functional>

class StageDoor;
class StageServer;
class WebFront;

// Reads the operator's files again, as SIGHUP asks: the certificate and key
// (for new connections; those open keep theirs) and the ban list (which
// removes whoever it now bans). A file that cannot be read leaves what was
// read before in force, and the log says so.
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

private:
    StageServer &m_stage;
    StageDoor &m_door;
    WebFront *m_web;
    const QString m_certificateFile;
    const QString m_keyFile;
    const QString m_banFile;
    Log m_log;
};
