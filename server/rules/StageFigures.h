// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/ControlCommand.h"
#include "server/rules/StageCounters.h"

#include <QByteArray>
#include <array>

// One stage's figures at one moment, and the process's that serves it, as
// Prometheus reads them. Nothing in them names a participant or an address.
struct StageFigures
{
    // Open connections, by what carries them.
    enum class Carrier
    {
        Tcp,
        Tls,
        WebSocket,
        Page // HTTP connections to the page not (yet) a WebSocket on the stage
    };
    static constexpr std::size_t CarrierCount = std::size_t(Carrier::Page) + 1;

    // The process's own, from the system.
    struct Process
    {
        double residentBytes = 0;
        double openDescriptors = 0;
        double maxDescriptors = 0;
        double cpuSeconds = 0;
        double startTimeSeconds = 0; // since the epoch
    };

    // The stage's port, which every stage figure carries as its "stage"
    // label, so that figures from many stages tell which is which.
    quint16 stage = 0;
    int placesTaken = 0;
    int places = 0;
    StageCounters counters;
    std::array<int, CarrierCount> connections{};
    qint64 addressGroups = 0;
    qint64 heldBytes = 0;
    qint64 logLinesLeftOut = 0;
    Process process;
    // The operator's commands carried out, by action.
    std::array<qint64, ControlCommand::ActionCount> moderation{};

    QByteArray exposition() const;
};
