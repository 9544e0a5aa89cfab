// SPDX-License-Identifier: MIT
#include "server/rules/HostPolicy.h"

#include <QUrl>

namespace {

// "host:port" of a URL or a Host header, with the scheme's port when it names none.
QString hostAndPort(const QUrl &url)
{
    const int fallback = url.scheme() == u"https" || url.scheme() == u"wss" ? 443 : 80;
    return url.host().toLower() + u':' + QString::number(url.port(fallback));
}

} // namespace

void HostPolicy::setHostNames(const QStringList &names)
{
    m_hostNames.clear();
    for (const QString &name : names)
        m_hostNames.insert(name.toLower());
}

bool HostPolicy::isOwnHost(const QByteArray &host) const
{
    if (m_hostNames.isEmpty())
        return true;
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(host), QUrl::StrictMode);
    QString name = url.host().toLower();
    if (name.endsWith(u'.'))
        name.chop(1); // the root: "localhost." is "localhost"
    return url.isValid() && url.path().isEmpty() && url.userInfo().isEmpty() && !name.isEmpty() &&
           m_hostNames.contains(name);
}

bool HostPolicy::sameOrigin(const QByteArray &origin, const QByteArray &host)
{
    if (origin.isEmpty())
        return true;
    const QUrl from(QString::fromLatin1(origin), QUrl::StrictMode);
    const QUrl to(QStringLiteral("http://") + QString::fromLatin1(host), QUrl::StrictMode);
    if (!from.isValid() || from.host().isEmpty() || !to.isValid() || to.host().isEmpty())
        return false;
    if (from.scheme() != u"http" && from.scheme() != u"https")
        return false;
    QUrl target = to;
    target.setScheme(from.scheme());
    return hostAndPort(from) == hostAndPort(target);
}
