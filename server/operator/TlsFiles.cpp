// SPDX-License-Identifier: MIT
#include "server/operator/TlsFiles.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <memory>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

std::optional<QByteArray> read(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = path + QStringLiteral(": ") + file.errorString();
        return std::nullopt;
    }
    return file.read(1024 * 1024);
}

// Qt cannot tell whether a key belongs to a certificate; OpenSSL, which Qt's
// TLS uses anyway, can.
bool keyFits(const QByteArray &certificatePem, const QByteArray &keyPem)
{
    using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
    Bio certificateBio(BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size())),
                       BIO_free);
    Bio keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr), X509_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    return certificate && key && X509_check_private_key(certificate.get(), key.get()) == 1;
}

} // namespace

std::optional<QSslConfiguration> TlsFiles::load(const QString &certificateFile,
                                                const QString &keyFile, QString *why)
{
    const auto certificatePem = read(certificateFile, why);
    if (!certificatePem)
        return std::nullopt;
    const auto keyPem = read(keyFile, why);
    if (!keyPem)
        return std::nullopt;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certificatePem, QSsl::Pem);
    if (chain.isEmpty()) {
        *why = certificateFile + QStringLiteral(": no certificate in PEM");
        return std::nullopt;
    }
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(*keyPem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *why = keyFile + QStringLiteral(": no private key in PEM (or one with a passphrase)");
        return std::nullopt;
    }
    if (!keyFits(*certificatePem, *keyPem)) {
        *why = keyFile + QStringLiteral(": not the key of the certificate in ") + certificateFile;
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients have no certificates
    return configuration;
}
