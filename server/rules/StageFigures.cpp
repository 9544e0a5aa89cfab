// SPDX-License-Identifier: MIT
#include "server/rules/StageFigures.h"

#include "server/rules/Exposition.h"

namespace {

constexpr std::array<const char *, StageCounters::RefusalCount> RefusalNames = {
    "name", "full",       "shape", "budget",         "waiting_pool",
    "ban",  "cross_site", "flood", "cross_protocol", "closed"};
constexpr std::array<const char *, StageFigures::CarrierCount> CarrierNames = {"tcp", "tls",
                                                                               "websocket", "page"};

} // namespace

QByteArray StageFigures::exposition() const
{
    using Type = Exposition::Type;
    const QByteArray port = QByteArray::number(stage);
    const Exposition::Labels own{{"stage", port}};
    auto with = [&port](const char *name, const char *value) {
        return Exposition::Labels{{"stage", port}, {name, value}};
    };
    Exposition out;
    out.family("quandrel_places_taken", Type::Gauge, "Places on the stage taken by participants.");
    out.sample(own, placesTaken);
    out.family("quandrel_places", Type::Gauge, "Places on the stage in all.");
    out.sample(own, places);
    out.family("quandrel_joins_total", Type::Counter, "Participants who joined the stage.");
    out.sample(own, double(counters.joins));
    out.family("quandrel_leaves_total", Type::Counter,
               "Participants who left the stage, of their own accord or not.");
    out.sample(own, double(counters.leaves));
    out.family("quandrel_relayed_packets_total", Type::Counter,
               "Participants' packets relayed to the stage, each counted once.");
    out.sample(own, double(counters.relayedPackets));
    out.family("quandrel_relayed_bytes_total", Type::Counter,
               "Bytes of the participants' packets relayed, each packet counted once.");
    out.sample(own, double(counters.relayedBytes));
    out.family("quandrel_sent_bytes_total", Type::Counter,
               "Bytes written to participants: every copy of every relayed packet, notices "
               "and answers.");
    out.sample(own, double(counters.sentBytes));
    out.family("quandrel_refusals_total", Type::Counter,
               "Connections, joins, packets and requests turned away, by reason.");
    for (std::size_t i = 0; i < RefusalNames.size(); ++i)
        out.sample(with("reason", RefusalNames[i]), double(counters.refusals[i]));
    out.family("quandrel_connections", Type::Gauge,
               "Open connections, by what carries them; page connections are HTTP "
               "connections to the page.");
    for (std::size_t i = 0; i < CarrierNames.size(); ++i)
        out.sample(with("kind", CarrierNames[i]), connections[i]);
    out.family("quandrel_address_groups", Type::Gauge,
               "Address groups the stage remembers the budgets of.");
    out.sample(own, double(addressGroups));
    out.family("quandrel_held_bytes", Type::Gauge,
               "Bytes held back for newcomers until they can take them.");
    out.sample(own, double(heldBytes));
    out.family("quandrel_log_lines_left_out_total", Type::Counter,
               "Log lines left out because the log was busy or its reader slow.");
    out.sample(own, double(logLinesLeftOut));
    out.family("quandrel_moderation_total", Type::Counter,
               "The operator's commands on the control socket carried out, by action.");
    for (int i = 0; i < ControlCommand::ActionCount; ++i) {
        const QByteArray action = ControlCommand::name(ControlCommand::Action(i)).toLatin1();
        out.sample(with("action", action.constData()), double(moderation[std::size_t(i)]));
    }

    out.family("process_resident_memory_bytes", Type::Gauge, "Resident memory size in bytes.");
    out.sample({}, process.residentBytes);
    out.family("process_open_fds", Type::Gauge, "Number of open file descriptors.");
    out.sample({}, process.openDescriptors);
    out.family("process_max_fds", Type::Gauge, "Maximum number of open file descriptors.");
    out.sample({}, process.maxDescriptors);
    out.family("process_cpu_seconds_total", Type::Counter,
               "Total user and system CPU time spent in seconds.");
    out.sample({}, process.cpuSeconds);
    out.family("process_start_time_seconds", Type::Gauge,
               "Start time of the process since unix epoch in seconds.");
    out.sample({}, process.startTimeSeconds);
    return out.text();
}
