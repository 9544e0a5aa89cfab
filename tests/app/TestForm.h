// SPDX-License-Identifier: MIT
#pragma once

#include "app/frmMain.h"

#include <memory>

// A main window as the tests use it: loaded and shown, talking to a server
// on loopback at the given port, and ending without leaving the process.
std::unique_ptr<frmMain> makeTestForm(quint16 port);
