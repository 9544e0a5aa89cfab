// SPDX-License-Identifier: MIT
// quandrel-stages: many stages on this host, ten clients a stage, every
// client stepping twice a second; the relay latency at the clients, the
// memory a stage costs, and the CPU of the host. Each figure stands beside
// the floor of the measuring side: the same load, in the same run, against an
// echo relay that does nothing but relay.
//   quandrel-stages [--server PATH] [--stages N,N...] [--seconds S]
//                   [--loaders K] [--relays R] [--only floor|servers]
//                   [--shared N] [--flood N] [--scrape N,N...] [--json FILE]
#include "EchoRelay.h"
#include "Fleet.h"
#include "StageLoad.h"
#include "Stats.h"
#include "server/operator/ProcessFigures.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <map>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int FloodConnectsPerSecond = 5000;

struct Options
{
    QString server = QStringLiteral("build/release/server/quandrel-server");
    std::vector<int> stages{1000, 2000};
    double seconds = 10;
    int loaders = 2;
    int relays = 2;
    std::vector<int> scrape; // stage counts to measure again, each stage scraped every second
    QString json;
    bool floor = true;
    bool servers = true;
    int shared = 0; // stages measured again, run by `relays` processes of many stages each
    int flood = 0;  // stages measured again, the first under a connect flood
};

struct Result
{
    QString error;
    double p50 = 0;
    double p99 = 0;
    std::size_t samples = 0;
    std::size_t expected = 0; // every step at every client of its stage
    double hostCpu = 0;       // % of all cores
    double stagesCpu = 0;     // % of one core, all stage processes together
    double pssMiB = 0;
    double scrapeP50 = 0; // one stage's /metrics, ms
    double scrapeP99 = 0;
    double scrapeRound = 0; // every stage's, one after another, ms (median round)
};

bool readAll(int fd, void *data, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, static_cast<char *>(data) + got, size - got);
        if (n <= 0)
            return false;
        got += std::size_t(n);
    }
    return true;
}

bool writeAll(int fd, const void *data, std::size_t size)
{
    std::size_t put = 0;
    while (put < size) {
        const ssize_t n = ::write(fd, static_cast<const char *>(data) + put, size - put);
        if (n <= 0)
            return false;
        put += std::size_t(n);
    }
    return true;
}

// One GET of /metrics on a loopback port, timed in ms; -1 when it failed.
double scrapeOnce(std::uint16_t port)
{
    const std::int64_t start = Stats::nowNs();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    static const char request[] =
        "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
              ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == ssize_t(sizeof request - 1);
    char chunk[16384];
    std::size_t total = 0;
    while (ok) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            ok = n == 0 && total > 0;
            break;
        }
        total += std::size_t(n);
    }
    ::close(fd);
    return ok ? double(Stats::nowNs() - start) / 1e6 : -1;
}

// Scrapes every port once a second, as Prometheus would with a one-second
// interval, until told to stop on `control`; writes one time a scrape and
// one a round to `out`.
[[noreturn]] void scrapeEverySecond(const std::vector<std::uint16_t> &ports, int control, int out)
{
    std::vector<float> each;
    std::vector<float> rounds;
    for (;;) {
        const std::int64_t start = Stats::nowNs();
        for (const std::uint16_t port : ports)
            each.push_back(float(scrapeOnce(port)));
        rounds.push_back(float(double(Stats::nowNs() - start) / 1e6));
        pollfd p{control, POLLIN, 0};
        const int waitMs =
            int(std::max<std::int64_t>(0, 1000 - (Stats::nowNs() - start) / 1'000'000));
        if (::poll(&p, 1, waitMs) > 0)
            break;
    }
    for (const auto *v : {&each, &rounds}) {
        const std::size_t n = v->size();
        writeAll(out, &n, sizeof n);
        writeAll(out, v->data(), n * sizeof(float));
    }
    ::_exit(0);
}

std::vector<float> readFloats(int fd)
{
    std::size_t n = 0;
    if (!readAll(fd, &n, sizeof n))
        return {};
    std::vector<float> v(n);
    readAll(fd, v.data(), n * sizeof(float));
    return v;
}

std::vector<double> wider(const std::vector<float> &v)
{
    return {v.begin(), v.end()};
}

// The fleet's stages, split into `loaders` processes of whole stages (a step
// is timed by the process that sent it).
// Opens and closes connections to `port` from 127.0.0.2, `perSecond` a
// second, until ended: a connect flood on one stage.
[[noreturn]] void floodConnects(std::uint16_t port, int perSecond)
{
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000002);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::int64_t start = Stats::nowNs();
    for (std::int64_t n = 0;; ++n) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from);
        ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
        ::close(fd);
        const std::int64_t due = start + n * 1'000'000'000 / perSecond;
        const std::int64_t ahead = due - Stats::nowNs();
        if (ahead > 0)
            ::usleep(useconds_t(ahead / 1000));
    }
}

// A process that loads whole stages of the fleet (a step is timed by the
// process that sent it): it joins, says so, waits for the word to go, and
// hands back its latencies.
struct Loader
{
    pid_t pid;
    int status; // the loader's end: joined, then its latencies
    int go;
};

// `count` loaders sharing the ports; empty when no pipe could be made.
std::vector<Loader> startLoaders(const std::vector<std::uint16_t> &ports, int count, double seconds)
{
    std::vector<Loader> loaders;
    for (int l = 0; l < count; ++l) {
        std::vector<std::uint16_t> share;
        for (std::size_t s = std::size_t(l); s < ports.size(); s += std::size_t(count))
            share.push_back(ports[s]);
        int up[2];
        int down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0)
            return {};
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            StageLoad load(share);
            const char joined = load.join(120'000) ? 1 : 0;
            writeAll(up[1], &joined, 1);
            char go = 0;
            if (!joined || !readAll(down[0], &go, 1))
                ::_exit(1);
            const std::vector<float> latencies = load.run(seconds, 2);
            const std::size_t n = latencies.size();
            writeAll(up[1], &n, sizeof n);
            writeAll(up[1], latencies.data(), n * sizeof(float));
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        loaders.push_back({pid, up[0], down[1]});
    }
    return loaders;
}

// Every loader's latencies, once each has run; false when one failed.
bool collect(const std::vector<Loader> &loaders, std::vector<float> *all)
{
    bool whole = true;
    for (const Loader &l : loaders) {
        std::size_t n = 0;
        if (!readAll(l.status, &n, sizeof n)) {
            whole = false;
            continue;
        }
        const std::size_t at = all->size();
        all->resize(at + n);
        readAll(l.status, all->data() + at, n * sizeof(float));
    }
    return whole;
}

// A process scraping every stage's figures once a second until told to stop.
struct Scraper
{
    pid_t pid = -1;
    int control[2] = {-1, -1};
    int out[2] = {-1, -1};

    void start(const std::vector<std::uint16_t> &metricsPorts)
    {
        if (::pipe(control) != 0 || ::pipe(out) != 0)
            return;
        pid = ::fork();
        if (pid == 0)
            scrapeEverySecond(metricsPorts, control[0], out[1]);
        ::close(out[1]);
    }
    void finish(Result *result)
    {
        writeAll(control[1], "s", 1);
        const auto each = wider(readFloats(out[0]));
        const auto rounds = wider(readFloats(out[0]));
        result->scrapeP50 = Stats::percentile(each, 50);
        result->scrapeP99 = Stats::percentile(each, 99);
        result->scrapeRound = Stats::median(rounds);
        if (std::any_of(each.begin(), each.end(), [](double t) { return t < 0; }))
            result->error = QStringLiteral("a scrape failed");
        ::waitpid(pid, nullptr, 0);
        for (const int fd : {control[0], control[1], out[0]})
            ::close(fd);
    }
};

// Runs the loaders, which have joined, for the measured time; with `flood`,
// the first stage is under a connect flood meanwhile.
void run(const Fleet &fleet, const std::vector<Loader> &loaders, bool scrape, bool flood,
         Result *result)
{
    const auto &ports = fleet.ports();
    ::usleep(1'000'000); // the last joins' notices settle
    Scraper scraper;
    if (scrape)
        scraper.start(fleet.metricsPorts());
    std::fprintf(stderr, "%zu stages joined, measuring\n", ports.size());
    const ProcessFigures::Host hostBefore = ProcessFigures::host();
    const double stagesBefore = fleet.cpuSeconds();
    const std::int64_t start = Stats::nowNs();
    pid_t flooder = -1;
    if (flood) {
        flooder = ::fork();
        if (flooder == 0)
            floodConnects(ports.front(), FloodConnectsPerSecond);
    }
    for (const Loader &l : loaders)
        writeAll(l.go, "g", 1);
    std::vector<float> all;
    if (!collect(loaders, &all))
        result->error = QStringLiteral("not every client joined");
    const double wall = double(Stats::nowNs() - start) / 1e9;
    if (flooder > 0) {
        ::kill(flooder, SIGKILL);
        ::waitpid(flooder, nullptr, 0);
    }
    const ProcessFigures::Host hostAfter = ProcessFigures::host();
    result->stagesCpu = 100 * (fleet.cpuSeconds() - stagesBefore) / wall;
    result->hostCpu =
        100 * (hostAfter.busy - hostBefore.busy) / (hostAfter.total - hostBefore.total);
    result->pssMiB = fleet.pssMiB();
    const std::vector<double> latencies = wider(all);
    result->samples = latencies.size();
    result->p50 = Stats::percentile(latencies, 50);
    result->p99 = Stats::percentile(latencies, 99);
    if (scraper.pid > 0)
        scraper.finish(result);
}

// With `flood`, the first stage is under a connect flood while measured.
Result measure(const Fleet &fleet, const Options &options, bool scrape, bool flood = false)
{
    Result result;
    const auto &ports = fleet.ports();
    result.expected = ports.size() * 10 * std::size_t(options.seconds * 2) * 10;
    const int count = std::min<int>(options.loaders, int(ports.size()));
    const std::vector<Loader> loaders = startLoaders(ports, count, options.seconds);
    if (loaders.size() != std::size_t(count)) {
        result.error = QStringLiteral("no pipe");
        return result;
    }
    bool joined = true;
    for (const Loader &l : loaders) {
        char ok = 0;
        joined = readAll(l.status, &ok, 1) && ok && joined;
    }
    if (joined)
        run(fleet, loaders, scrape, flood, &result);
    for (const Loader &l : loaders) {
        ::close(l.go);
        ::close(l.status);
        ::waitpid(l.pid, nullptr, 0);
    }
    if (!joined && result.error.isEmpty())
        result.error = QStringLiteral("not every client joined");
    return result;
}

Options parse(int argc, char *argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        const QByteArray value = i + 1 < argc ? QByteArray(argv[i + 1]) : QByteArray();
        if (a == "--server") {
            options.server = QString::fromLocal8Bit(value), ++i;
        } else if (a == "--stages") {
            options.stages.clear();
            for (const QByteArray &n : value.split(','))
                options.stages.push_back(n.toInt());
            ++i;
        } else if (a == "--seconds") {
            options.seconds = value.toDouble(), ++i;
        } else if (a == "--loaders") {
            options.loaders = std::max(1, value.toInt()), ++i;
        } else if (a == "--relays") {
            options.relays = std::max(1, value.toInt()), ++i;
        } else if (a == "--only") {
            options.floor = value == "floor";
            options.servers = value == "servers";
            ++i;
        } else if (a == "--flood") {
            options.flood = value.toInt(), ++i;
        } else if (a == "--shared") {
            options.shared = value.toInt(), ++i;
        } else if (a == "--scrape") {
            for (const QByteArray &n : value.split(','))
                options.scrape.push_back(n.toInt());
            ++i;
        } else if (a == "--json") {
            options.json = QString::fromLocal8Bit(value), ++i;
        } else {
            std::fprintf(stderr, "usage: quandrel-stages [--server PATH] [--stages N,N...] "
                                 "[--seconds S] [--loaders K] [--relays R] [--only floor|servers] "
                                 "[--shared N] [--flood N] "
                                 "[--scrape N,N...] [--json FILE]\n");
            std::exit(2);
        }
    }
    return options;
}

QString pair(double a, double b, int decimals = 2)
{
    return QString::number(a, 'f', decimals) + u'/' + QString::number(b, 'f', decimals);
}

// What a run measures with, and the rows it has so far.
struct Run
{
    struct Row
    {
        QString measure, value, baseline, goal;
        bool met;
    };

    Options options;
    std::vector<Row> rows;
    std::map<int, Result> unscraped; // by the number of stages
    bool failed = false;

    void report(int stages, const Result &r, const char *what)
    {
        if (!r.error.isEmpty()) {
            std::fprintf(stderr, "%d stages, %s: %s\n", stages, what, qPrintable(r.error));
            failed = true;
        }
        std::fprintf(stderr, "%d stages, %s: %zu samples\n", stages, what, r.samples);
    }
    Result servers(int stages, bool scraped) const
    {
        QString error;
        QStringList serverOptions{QStringLiteral("--no-notices")};
        if (scraped)
            serverOptions << QStringLiteral("--metrics-listen") << QStringLiteral("127.0.0.1:0");
        const Fleet fleet = Fleet::servers(options.server, stages, serverOptions, &error);
        return fleet.pids().empty() ? Result{error} : measure(fleet, options, scraped);
    }
};

// Each number of stages, a process a stage, beside an echo relay's floor.
void measureStages(Run &run)
{
    for (const int stages : run.options.stages) {
        Result floor;
        if (run.options.floor) {
            const Fleet relays = Fleet::echoRelays(stages, std::min(run.options.relays, stages));
            floor = measure(relays, run.options, false);
            run.report(stages, floor, "echo relay");
        }
        Result real;
        if (run.options.servers) {
            real = run.servers(stages, false);
            run.report(stages, real, "servers");
            run.unscraped[stages] = real;
        }
        const double goal = stages <= 1000 ? 5 : 10;
        run.rows.push_back(
            {QStringLiteral("%1 stages x 10 clients x 2 steps/s: relay ms p50/p99").arg(stages),
             pair(real.p50, real.p99, 3), pair(floor.p50, floor.p99, 3) + " echo relay",
             QStringLiteral("p99 < %1").arg(goal), real.p99 < goal});
        auto delivered = [](const Result &r) {
            return r.expected ? 100.0 * double(r.samples) / double(r.expected) : 0.0;
        };
        run.rows.push_back({QStringLiteral("%1 stages: steps delivered by half a second after the "
                                           "last, %")
                                .arg(stages),
                            QString::number(delivered(real), 'f', 1),
                            QString::number(delivered(floor), 'f', 1) + " echo relay",
                            QStringLiteral("100"), delivered(real) >= 99.99});
        run.rows.push_back({QStringLiteral("%1 stages: memory a stage, PSS MiB").arg(stages),
                            QString::number(real.pssMiB, 'f', 2), QString(),
                            QStringLiteral("<= 1.58"), real.pssMiB <= 1.58});
        run.rows.push_back(
            {QStringLiteral("%1 stages: CPU of the host %, stages' CPU % of a core").arg(stages),
             pair(real.hostCpu, real.stagesCpu, 1),
             pair(floor.hostCpu, floor.stagesCpu, 1) + " echo relay", QString(), true});
    }
}

// As many stages in a few shared processes.
void measureShared(Run &run)
{
    if (run.options.shared <= 0)
        return;
    const int stages = run.options.shared;
    const Fleet fleet = Fleet::sharedProcesses(stages, run.options.relays);
    const Result shared = measure(fleet, run.options, false);
    run.report(stages, shared, "stages in shared processes");
    const auto apart = run.unscraped.find(stages);
    const Result separate = apart != run.unscraped.end() ? apart->second : Result{};
    run.rows.push_back({QStringLiteral("%1 stages in %2 processes: relay ms p50/p99")
                            .arg(stages)
                            .arg(run.options.relays),
                        pair(shared.p50, shared.p99, 3),
                        pair(separate.p50, separate.p99, 3) + " a process a stage", QString(),
                        true});
    run.rows.push_back({QStringLiteral("%1 stages in %2 processes: memory a stage, PSS MiB")
                            .arg(stages)
                            .arg(run.options.relays),
                        QString::number(shared.pssMiB * run.options.relays / stages, 'f', 2),
                        QString::number(separate.pssMiB, 'f', 2) + " a process a stage", QString(),
                        true});
    run.rows.push_back(
        {QStringLiteral("%1 stages in %2 processes: CPU of the host %, stages' CPU % of a core")
             .arg(stages)
             .arg(run.options.relays),
         pair(shared.hostCpu, shared.stagesCpu, 1),
         pair(separate.hostCpu, separate.stagesCpu, 1) + " a process a stage", QString(), true});
}

// One stage of many under a connect flood.
void measureFlood(Run &run)
{
    if (run.options.flood <= 0)
        return;
    const int stages = run.options.flood;
    QString error;
    const Fleet fleet =
        Fleet::servers(run.options.server, stages, {QStringLiteral("--no-notices")}, &error);
    const Result flooded =
        fleet.pids().empty() ? Result{error} : measure(fleet, run.options, false, true);
    run.report(stages, flooded, "servers, one under a connect flood");
    const auto quiet = run.unscraped.find(stages);
    const bool compared = quiet != run.unscraped.end();
    run.rows.push_back(
        {QStringLiteral("%1 stages, one under a connect flood (%2/s): relay ms p50/p99")
             .arg(stages)
             .arg(FloodConnectsPerSecond),
         pair(flooded.p50, flooded.p99, 3),
         compared ? pair(quiet->second.p50, quiet->second.p99, 3) + " no flood" : QString(),
         QString(), true});
    run.rows.push_back(
        {QStringLiteral("%1 stages, one flooded: CPU of the host %, the stages' % of a core")
             .arg(stages),
         pair(flooded.hostCpu, flooded.stagesCpu, 1),
         compared ? pair(quiet->second.hostCpu, quiet->second.stagesCpu, 1) + " no flood"
                  : QString(),
         QString(), true});
}

// Every stage scraped every second.
void measureScraped(Run &run)
{
    for (const int stages : run.options.scrape) {
        const Result scraped = run.servers(stages, true);
        run.report(stages, scraped, "servers scraped every second");
        const auto quiet = run.unscraped.find(stages);
        const bool compared = quiet != run.unscraped.end();
        run.rows.push_back(
            {QStringLiteral("%1 stages, each scraped every second: relay ms p50/p99").arg(stages),
             pair(scraped.p50, scraped.p99, 3),
             compared ? pair(quiet->second.p50, quiet->second.p99, 3) + " not scraped" : QString(),
             QStringLiteral("p99 unchanged"), compared && scraped.p99 <= 1.1 * quiet->second.p99});
        run.rows.push_back(
            {QStringLiteral("%1 stages: one stage's scrape ms p50/p99, all in turn ms").arg(stages),
             pair(scraped.scrapeP50, scraped.scrapeP99, 2) + " " +
                 QString::number(scraped.scrapeRound, 'f', 0),
             QString(), QStringLiteral("p99 < 50"), scraped.scrapeP99 < 50});
    }
}

void printRows(const std::vector<Run::Row> &rows, const QString &jsonFile)
{
    const int width[] = {62, 20, 28, 10};
    QJsonArray json;
    std::printf("%-*s %-*s %-*s %-*s met\n", width[0], "measure", width[1], "value", width[2],
                "baseline", width[3], "goal");
    for (const Run::Row &r : rows) {
        std::printf("%-*s %-*s %-*s %-*s %s\n", width[0], qPrintable(r.measure), width[1],
                    qPrintable(r.value), width[2], qPrintable(r.baseline), width[3],
                    qPrintable(r.goal),
                    r.goal.isEmpty() ? ""
                    : r.met          ? "yes"
                                     : "NO");
        json.append(QJsonObject{{QStringLiteral("measure"), r.measure},
                                {QStringLiteral("value"), r.value},
                                {QStringLiteral("baseline"), r.baseline},
                                {QStringLiteral("goal"), r.goal},
                                {QStringLiteral("met"), r.met}});
    }
    if (!jsonFile.isEmpty()) {
        QFile file(jsonFile);
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(json).toJson());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const Options options = parse(argc, argv);
    // Ten descriptors a stage in the measuring processes.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    std::signal(SIGPIPE, SIG_IGN);

    Run run{options, {}, {}, false};
    measureStages(run);
    measureShared(run);
    measureFlood(run);
    measureScraped(run);
    printRows(run.rows, options.json);
    return run.failed ? 1 : 0;
}
