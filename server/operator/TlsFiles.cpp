// SPDX-License-Identifier: MIT
#include "server/operator/TlsFiles.h"

#include <QFile>
#include <QLibrary>
#include <QSslCertificate>
#include <QSslKey>
#include <memory>
#include <openssl/opensslv.h>
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
// TLS uses anyway, can. It is loaded here, when a certificate is, rather
// than linked: linked, its relocations alone cost every stage process
// 400 KiB of private memory, which a host of many stages without TLS would
// pay for nothing. Empty when OpenSSL is not there to ask.
std::optional<bool> keyFits(const QByteArray &certificatePem, const QByteArray &keyPem)
{
    QLibrary crypto(QStringLiteral("crypto"), OPENSSL_VERSION_MAJOR);
    const auto newBuffer =
        reinterpret_cast<decltype(&BIO_new_mem_buf)>(crypto.resolve("BIO_new_mem_buf"));
    const auto freeBuffer = reinterpret_cast<decltype(&BIO_free)>(crypto.resolve("BIO_free"));
    const auto readCertificate =
        reinterpret_cast<decltype(&PEM_read_bio_X509)>(crypto.resolve("PEM_read_bio_X509"));
    const auto freeCertificate =
        reinterpret_cast<decltype(&X509_free)>(crypto.resolve("X509_free"));
    const auto readKey = reinterpret_cast<decltype(&PEM_read_bio_PrivateKey)>(
        crypto.resolve("PEM_read_bio_PrivateKey"));
    const auto freeKey =
        reinterpret_cast<decltype(&EVP_PKEY_free)>(crypto.resolve("EVP_PKEY_free"));
    const auto check = reinterpret_cast<decltype(&X509_check_private_key)>(
        crypto.resolve("X509_check_private_key"));
    if (!newBuffer || !freeBuffer || !readCertificate || !freeCertificate || !readKey || !freeKey ||
        !check)
        return std::nullopt;
    using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
    Bio certificateBio(newBuffer(certificatePem.constData(), int(certificatePem.size())),
                       freeBuffer);
    Bio keyBio(newBuffer(keyPem.constData(), int(keyPem.size())), freeBuffer);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        readCertificate(certificateBio.get(), nullptr, nullptr, nullptr), freeCertificate);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        readKey(keyBio.get(), nullptr, nullptr, nullptr), freeKey);
    return certificate && key && check(certificate.get(), key.get()) == 1;
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
    const std::optional<bool> fits = keyFits(*certificatePem, *keyPem);
    if (!fits) {
        *why = QStringLiteral("cannot load OpenSSL's libcrypto to check the key");
        return std::nullopt;
    }
    if (!*fits) {
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
