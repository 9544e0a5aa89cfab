// SPDX-License-Identifier: MIT
#include "TestCertificates.h"

#include <QFile>
#include <QProcess>

namespace {

bool write(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList newKey = {QStringLiteral("-newkey"), QStringLiteral("ec"),
                            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                            QStringLiteral("-nodes")};

} // namespace

TestCertificates::TestCertificates()
{
    const QString d = m_dir.path() + u'/';
    // "openssl ca" signs with any dates, expired ones too.
    m_ok = write(d + QStringLiteral("ca.cnf"),
                 "[ca]\ndefault_ca = test\n[test]\ndatabase = " + (d + "index.txt").toUtf8() +
                     "\nnew_certs_dir = " + d.toUtf8() + "\nserial = " + (d + "serial").toUtf8() +
                     "\ndefault_md = sha256\ndefault_days = 2\npolicy = any\nunique_subject = no\n"
                     "[any]\ncommonName = supplied\n") &&
           write(d + QStringLiteral("index.txt"), "") &&
           write(d + QStringLiteral("serial"), "1000\n") &&
           run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey +
               QStringList{QStringLiteral("-keyout"), d + QStringLiteral("ca.key"),
                           QStringLiteral("-out"), d + QStringLiteral("ca.pem"),
                           QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                           QStringLiteral("/CN=Quandrel Test Authority")}) &&
           issue(QStringLiteral("good"), QStringLiteral("IP:127.0.0.1,DNS:localhost")) &&
           issue(QStringLiteral("other"), QStringLiteral("IP:127.0.0.1,DNS:localhost")) &&
           issue(QStringLiteral("wronghost"), QStringLiteral("DNS:stage.example")) &&
           issue(QStringLiteral("expired"), QStringLiteral("IP:127.0.0.1,DNS:localhost"),
                 {QStringLiteral("-startdate"), QStringLiteral("20200101000000Z"),
                  QStringLiteral("-enddate"), QStringLiteral("20200102000000Z")}) &&
           run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey +
               QStringList{QStringLiteral("-keyout"), key(QStringLiteral("selfsigned")),
                           QStringLiteral("-out"), pem(QStringLiteral("selfsigned")),
                           QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                           QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                           QStringLiteral("subjectAltName=IP:127.0.0.1")});
}

bool TestCertificates::issue(const QString &name, const QString &names, const QStringList &dates)
{
    const QString d = m_dir.path() + u'/';
    const QString extensions = d + name + QStringLiteral(".ext");
    const QString leaf = d + name + QStringLiteral(".leaf");
    return write(extensions, "subjectAltName = " + names.toUtf8() + '\n') &&
           run(QStringList{QStringLiteral("req")} + newKey +
               QStringList{QStringLiteral("-keyout"), key(name), QStringLiteral("-out"),
                           d + name + QStringLiteral(".csr"), QStringLiteral("-subj"),
                           QStringLiteral("/CN=") + name}) &&
           run(QStringList{QStringLiteral("ca"), QStringLiteral("-batch"),
                           QStringLiteral("-notext"), QStringLiteral("-config"),
                           d + QStringLiteral("ca.cnf"), QStringLiteral("-cert"),
                           d + QStringLiteral("ca.pem"), QStringLiteral("-keyfile"),
                           d + QStringLiteral("ca.key"), QStringLiteral("-in"),
                           d + name + QStringLiteral(".csr"), QStringLiteral("-out"), leaf,
                           QStringLiteral("-extfile"), extensions} +
               dates) &&
           write(pem(name), readAll(leaf) + readAll(d + QStringLiteral("ca.pem")));
}

bool TestCertificates::run(const QStringList &arguments)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30'000) || openssl.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(arguments.join(u' ')), openssl.readAll().constData());
        return false;
    }
    return true;
}

QSslCertificate TestCertificates::authority() const
{
    return QSslCertificate(readAll(m_dir.filePath(QStringLiteral("ca.pem"))));
}

QSslCertificate TestCertificates::certificate(const QString &name) const
{
    return QSslCertificate(readAll(pem(name)));
}
