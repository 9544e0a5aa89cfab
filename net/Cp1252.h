// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// The protocol's peers speak Windows-1252, one byte per character. Qt 6 has no
// codec for it without ICU, and the table is small, so we carry our own.
namespace Cp1252 {

// A character the code page cannot hold becomes one "?" per code point.
QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);

} // namespace Cp1252
