// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/Link.h"
#include "server/rules/ServerSettings.h"
#include "server/rules/StageFigures.h"
#include "server/stage/StageClient.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AddressGroups;
class Admission;
class Farewells;
class StageLog;
struct StageCounters;

// Every connection to the stage from its adoption to its end: its input,
// read within its budgets, and its whole leave, so that the stage itself
// only deals with places, joins and what is relayed. A connection goes in
// two steps: it is marked to leave (nothing more is sent to it), and at the
// next turn dropped, once every packet it sent before is relayed; the
// clients themselves are freed a turn later still, so that no caller holds
// a freed one.
class StageConnections : public QObject
{
public:
    using Client = StageClient;

    // What the stage does with its connections.
    struct Stage
    {
        // One of a client's packets, its budget spent.
        std::function<void(Client *client, const QByteArray &packet)> packet;
        // A joined client ends: its place is freed and the others told; a
        // removed one is an operator's doing, told as `removal` says after
        // its name ("was removed from the stage").
        std::function<void(Client *client, const QString &why, const QByteArray &removal)> vacate;
    };

    static constexpr qint64 MaxPendingOutput = 1 << 20;

    StageConnections(const ServerSettings &settings, AddressGroups &groups, Admission &admission,
                     StageCounters &counters, StageLog &log, Farewells &farewells,
                     std::function<qint64()> nowMs, QObject *parent = nullptr);
    ~StageConnections() override;

    void setStage(Stage stage) { m_stage = std::move(stage); }
    // Takes a new connection in, whatever carries it, under the same rules
    // as every other; false when admission turned it away.
    bool adopt(Link *link, StageFigures::Carrier carrier);
    // Ends a waiting client to make room for a newcomer.
    bool giveWay(quint64 serial);
    // Ends the connection; with a farewell, the client is sent it first. A
    // removal is an operator's doing, and says so to everyone.
    void drop(Client *client, const QString &why, const QByteArray &farewell = {},
              const QByteArray &removal = {});
    // Drops, as an operator's doing, everyone for whom `why` gives a
    // reason; how many.
    int remove(const std::function<std::optional<QString>(const Client &client)> &why);
    int count() const;
    // Every connection still open, joined or not.
    void forEach(const std::function<void(const Client &client)> &each) const;
    // Its connections by carrier and what is held for them.
    void addFigures(StageFigures &figures) const;

private:
    void readFrom(Client *client);
    void write(Client *client, const QByteArray &packet);
    // Drops a client once every packet it sent before it went is relayed; it
    // is sent nothing more meanwhile.
    void leaveLater(Client *client, const QString &why,
                    Link::Failure failure = Link::Failure::Broken);
    void finishLeaving();
    void purge();

    const ServerSettings &m_settings;
    AddressGroups &m_groups;
    Admission &m_admission;
    StageCounters &m_counters;
    StageLog &m_log;
    Farewells &m_farewells;
    std::function<qint64()> m_nowMs;
    Stage m_stage;
    std::vector<std::unique_ptr<Client>> m_clients;
    bool m_leaveQueued = false;
    bool m_purgeQueued = false;
};
