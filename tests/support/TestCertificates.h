// SPDX-License-Identifier: MIT
#pragma once

#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

// A test authority and certificates made with Debian's openssl in a
// temporary folder, each NAME.pem (with the authority after it, as a chain)
// and NAME.key:
//   good, other   for 127.0.0.1 and localhost, signed by the authority
//   wronghost     for stage.example only
//   expired       valid for one day in 2020
//   selfsigned    for 127.0.0.1, signed by itself
class TestCertificates
{
public:
    TestCertificates();
    bool ok() const { return m_ok; }
    QString pem(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".pem")); }
    QString key(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".key")); }
    QSslCertificate authority() const;
    QSslCertificate certificate(const QString &name) const;

private:
    bool run(const QStringList &arguments);
    bool issue(const QString &name, const QString &names, const QStringList &dates = {});

    QTemporaryDir m_dir;
    bool m_ok = false;
};
