// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/StageFigures.h"

#include <QtGlobal>

// A process's memory, descriptors and CPU, and the machine's CPU, as the
// system tells them: the one reader of /proc for the server's figures, its
// tests and the benchmark. Zero where the system does not tell (no /proc,
// or the process is gone).
namespace ProcessFigures {

// This process's figures.
StageFigures::Process read();

// Of process `pid`, or of this one when `pid` is 0:
// user and system CPU time used, in seconds;
double cpuSeconds(qint64 pid = 0);
// resident memory now, and at its peak, in bytes;
double residentBytes(qint64 pid = 0);
double peakResidentBytes(qint64 pid = 0);
// its share of the pages it shares with others, in bytes.
double proportionalBytes(qint64 pid = 0);

// CPU time the machine has spent busy and in all, in seconds of all cores.
struct Host
{
    double busy = 0;
    double total = 0;
};
Host host();

} // namespace ProcessFigures
