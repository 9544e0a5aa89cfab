// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/StageFigures.h"

// This process's memory, descriptors and CPU, as the system tells them.
namespace ProcessFigures {

// Zero where the system does not tell (no /proc).
StageFigures::Process read();

} // namespace ProcessFigures
