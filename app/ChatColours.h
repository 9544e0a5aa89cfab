// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>

// The chat boxes' colours at start; Preferences changes them for the run.
namespace ChatColours {

inline const QColor Background{0, 255, 255};
inline const QColor Text{0, 0, 255};

} // namespace ChatColours
