// SPDX-License-Identifier: MIT
#include "server/operator/Reloader.h"

#include "server/carriers/StageDoor.h"
#include "server/operator/BanFile.h"
#include "server/operator/TlsFiles.h"
#include "server/page/WebFront.h"
#include "server/stage/StageServer.h"

Reloader::Reloader(StageServer &stage, StageDoor &door, WebFront *web, QString certificateFile,
                   QString keyFile, QString banFile, Log log)
    : m_stage(stage), m_door(door), m_web(web), m_certificateFile(std::move(certificateFile)),
      m_keyFile(std::move(keyFile)), m_banFile(std::move(banFile)), m_log(std::move(log))
{}

void Reloader::reload()
{
    reloadTls();
    reloadBans();
}

void Reloader::reloadTls()
{
    if (m_certificateFile.isEmpty())
        return;
    QString why;
    const auto fresh = TlsFiles::load(m_certificateFile, m_keyFile, &why);
    if (!fresh) {
        m_log(QStringLiteral("certificate not read again, the old one stays: %1").arg(why));
        return;
    }
    m_door.setTls(*fresh);
    if (m_web)
        m_web->setTls(*fresh);
    m_log(
        QStringLiteral("certificate read again from %1, valid until %2")
            .arg(m_certificateFile, fresh->localCertificate().expiryDate().toString(Qt::ISODate)));
}

void Reloader::reloadBans()
{
    if (m_banFile.isEmpty())
        return;
    QString why;
    if (const auto bans = BanFile::read(m_banFile, m_stage.lookAlike(), m_log, &why))
        m_stage.setBans(*bans);
    else
        m_log(QStringLiteral("%1 not read again, the bans stay as they were: %2")
                  .arg(m_banFile, why));
}
