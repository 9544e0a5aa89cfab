// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>

namespace LogText {

// Bytes from the network as they may stand in a log line: decoded as
// Windows-1252, every control character (C0, DEL, C1), the no-break space,
// the soft hyphen, the backslash and the quote escaped, and cut after `max`
// characters, so that one line stays one event.
QString escaped(QByteArrayView bytes, qsizetype max = 64);
// A name as the log shows it: escaped, in quotes.
QString quoted(QByteArrayView name);

} // namespace LogText
