// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/ServerSettings.h"

// File descriptors as a budget: every connection holds one, and a process
// out of them can take nobody, its own users included.
namespace Descriptors {

// Kept for what is not a connection (standard streams, the log, signals,
// the event loop) and as a margin.
inline constexpr int Reserved = 32;

// Raises the process's soft limit to its hard one; the limit now in force.
int raiseSoftLimit();

// The waiting places and the page's connections sized so that, with the
// ten places, the listeners, the farewells and the reserve, they never need
// more descriptors than `limit`.
ServerSettings sizedFor(ServerSettings settings, int limit);

} // namespace Descriptors
