// SPDX-License-Identifier: MIT
#include "server/operator/Reloader.h"

#include "server/carriers/StageDoor.h"
#include "server/operator/BanFile.h"
#include "server/operator/TlsFiles.h"
#include "server/page/WebFront.h"
#include "server/stage/StageServer.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <limits>

Reloader::Reloader(StageServer &stage, StageDoor &door, WebFront *web, QString certificateFile,
                   QString keyFile, QString banFile, Log log)
    : m_stage(stage), m_door(door), m_web(web), m_certificateFile(std::move(certificateFile)),
      m_keyFile(std::move(keyFile)), m_banFile(std::move(banFile)), m_log(std::move(log))
{
    m_expiry.setSingleShot(true);
    m_expiry.callOnTimeout([this] {
        if (m_banFile.isEmpty())
            applyBans(m_memoryBans);
        else
            reloadBans();
    });
}

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
    if (const auto text = BanFile::readText(m_banFile, &why))
        applyBans(*text);
    else
        m_log(QStringLiteral("%1 not read again, the bans stay as they were: %2")
                  .arg(m_banFile, why));
}

void Reloader::applyBans(QByteArrayView text)
{
    QList<BanFile::Problem> problems;
    std::optional<qint64> nextExpiry;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    BanList bans = BanFile::parse(text, m_stage.lookAlike(), &problems, now, &nextExpiry);
    const QString source = m_banFile.isEmpty() ? QStringLiteral("bans") : m_banFile;
    for (const BanFile::Problem &problem : problems)
        m_log(QStringLiteral("%1 line %2 skipped: %3")
                  .arg(source)
                  .arg(problem.line)
                  .arg(problem.why));
    m_log(QStringLiteral("%1: %2 ban(s)").arg(source).arg(bans.size()));
    m_stage.setBans(std::move(bans));
    m_expiry.stop();
    if (nextExpiry)
        expireAt(*nextExpiry);
}

void Reloader::expireAt(qint64 secs)
{
    const qint64 ms = (secs - QDateTime::currentSecsSinceEpoch()) * 1000 + 10;
    m_expiry.start(int(std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max())));
}

std::optional<QByteArray> Reloader::banText(QString *why) const
{
    if (m_banFile.isEmpty())
        return m_memoryBans;
    return BanFile::readText(m_banFile, why);
}

bool Reloader::changeBans(const Edit &edit, QString *why)
{
    const std::optional<QByteArray> text = banText(why);
    if (!text)
        return false;
    const QByteArray changed = edit(*text);
    if (m_banFile.isEmpty()) {
        m_memoryBans = changed;
    } else if (!BanFile::writeAtomically(m_banFile, changed, why,
                                         m_crashMidWrite ? BanFile::Fault::CrashMidWrite
                                                         : BanFile::Fault::None)) {
        return false;
    }
    applyBans(changed);
    return true;
}
