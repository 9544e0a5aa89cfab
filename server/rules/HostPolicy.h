// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

// Which requests name this server and which pages may open its stage. A
// request whose Host header names another host is not answered, so that a
// hostile name pointed at this server (DNS rebinding) serves nobody's page;
// an upgrade whose Origin is another site's page is refused, so that no page
// elsewhere can put its visitors on the stage.
class HostPolicy
{
public:
    // The names answered to (addresses too). Empty: any name.
    void setHostNames(const QStringList &names);
    // Whether a Host header names this server.
    bool isOwnHost(const QByteArray &host) const;

    // Whether an upgrade from a browser page comes from this server's own
    // page: its Origin names the same host and port as its Host. A request
    // without Origin comes from a program, not a page, and is let in.
    static bool sameOrigin(const QByteArray &origin, const QByteArray &host);

private:
    QSet<QString> m_hostNames;
};
