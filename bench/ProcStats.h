// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

// What /proc says about a process and about the machine.
namespace ProcStats {

// User and system CPU time the process has used, in seconds; 0 when gone.
double cpuSeconds(pid_t pid);
// Its proportional set size in KiB: its share of the pages it shares.
double pssKiB(pid_t pid);
// CPU time the machine has spent busy and in all, in seconds of all cores.
struct Host
{
    double busy = 0;
    double total = 0;
};
Host host();

} // namespace ProcStats
