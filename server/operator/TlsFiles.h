// SPDX-License-Identifier: MIT
#pragma once

#include <QSslConfiguration>
#include <QString>
#include <optional>

// The server's certificate (its chain after it) and private key, in PEM as a
// certificate authority or certbot writes them, made into a TLS 1.2-or-later
// server configuration. Nothing, and why (naming the file), when a file is
// missing or unreadable, holds no certificate or key, or the key is not the
// certificate's.
namespace TlsFiles {

std::optional<QSslConfiguration> load(const QString &certificateFile, const QString &keyFile,
                                      QString *why);

} // namespace TlsFiles
