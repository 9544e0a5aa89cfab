// SPDX-License-Identifier: MIT
#include "ClientBench.h"

#include "server/operator/ProcessFigures.h"

#include "Stats.h"
#include "app/ImageControl.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "client/SessionProbe.h"
#include "net/Wsk.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    // Finer than the clock ticks of /proc, for a few milliseconds of CPU.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

constexpr double MiB = 1024.0 * 1024.0;

double currentRssMiB()
{
    return ProcessFigures::residentBytes() / MiB;
}

double peakRssMiB()
{
    return ProcessFigures::peakResidentBytes() / MiB;
}

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(
                0, [] { std::printf("shown %lld\n", static_cast<long long>(Stats::nowNs())); });
        }
        return false;
    }

private:
    bool m_seen = false;
};

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Runs a child of this program and collects its "key value" lines.
std::optional<QHash<QString, double>> runChild(const QString &self, const QStringList &args,
                                               std::int64_t *startedNs)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (startedNs)
        *startedNs = Stats::nowNs();
    child.start(self, args);
    if (!child.waitForFinished(60000) || child.exitCode() != 0)
        return std::nullopt;
    QHash<QString, double> values;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            values.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
    }
    return values;
}

} // namespace

int ClientBench::idleChild(const QString &mode, std::uint16_t port, double seconds)
{
    const bool bare = mode == u"bare";
    const bool connect = mode == u"client";
    int argc = 1;
    char name[] = "quandrel-bench";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    std::unique_ptr<QWidget> window;
    frmMain *form = nullptr;
    if (bare) {
        auto *label = new QLabel(QStringLiteral("Quandrel"));
        label->resize(357, 288);
        window.reset(label);
    } else {
        form = new frmMain;
        form->session().setDefaultPort(port);
        form->setEndProgram([] {});
        form->Form_Load();
        window.reset(form);
    }
    // Shown means painted: the first paint event, once it has been handled.
    FirstPaint firstPaint;
    window->installEventFilter(&firstPaint);
    window->show();
    if (form && connect) {
        form->cmdConnection_Click();
        if (!waitFor([form] { return form->session().State() == Wsk::sckConnected; }, 5000))
            return 1;
    }
    waitFor([] { return false; }, 300); // settle: start-up work is not idle time
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("cpu %.3f\n", 100.0 * cpu / (double(wall.nsecsElapsed()) / 1e9));
    std::printf("rss %.2f\n", peakRssMiB());
    return 0;
}

std::optional<IdleResult> ClientBench::idle(const QString &self, bool bare, std::uint16_t port,
                                            double seconds)
{
    const auto values = runChild(self,
                                 {QStringLiteral("--child"),
                                  bare ? QStringLiteral("bare") : QStringLiteral("client"),
                                  QString::number(port), QString::number(seconds)},
                                 nullptr);
    if (!values)
        return std::nullopt;
    IdleResult result;
    result.cpuPercent = values->value(QStringLiteral("cpu"));
    result.peakRssMiB = values->value(QStringLiteral("rss"));
    return result;
}

std::optional<std::pair<double, double>> ClientBench::startupMs(const QString &self, int runs)
{
    // Alternate the two, so that both see the same state of the machine.
    std::vector<double> client;
    std::vector<double> bare;
    for (int i = 0; i < 2 * runs; ++i) {
        const bool isBare = i % 2 == 1;
        std::int64_t started = 0;
        // Port 9 (discard) on loopback is never reached: nothing connects at start-up.
        const auto values = runChild(self,
                                     {QStringLiteral("--child"),
                                      isBare ? QStringLiteral("bare") : QStringLiteral("startup"),
                                      QStringLiteral("9"), QStringLiteral("0")},
                                     &started);
        if (!values || !values->contains(QStringLiteral("shown")))
            return std::nullopt;
        (isBare ? bare : client)
            .push_back((values->value(QStringLiteral("shown")) - double(started)) / 1e6);
    }
    return std::pair{Stats::median(client), Stats::median(bare)};
}

std::optional<StepResult> ClientBench::stepLatency(std::uint16_t port, int steps)
{
    frmMain a;
    frmMain b;
    for (frmMain *form : {&a, &b}) {
        form->session().setDefaultPort(port);
        form->setEndProgram([] {});
        form->Form_Load();
        form->show();
    }
    b.Nubo_Click(); // the button joins under the avatar's name: one Gimbo a stage
    for (frmMain *form : {&a, &b}) {
        form->cmdConnection_Click();
        if (!waitFor([form] { return form->session().numbered(); }, 5000)) {
            std::fprintf(stderr, "no client number from the server: %s\n",
                         qPrintable(form->txtOutput->Text()));
            return std::nullopt;
        }
    }
    // The server sends a newcomer nothing for a moment after its number;
    // steps start once that has passed and the presence answers are in.
    waitFor([] { return false; }, 500);
    const int own = a.lblClientNumber->text().toInt();
    ImageControl *seen = b.imgClient[own];

    std::vector<double> latencies;
    std::vector<double> readouts;
    std::int64_t movedAt = 0;
    const auto connection = QObject::connect(seen, &ImageControl::moved, [&] {
        if (!movedAt)
            movedAt = Stats::nowNs();
    });
    for (int i = 0; i < steps; ++i) {
        const QString before = a.Label5->text();
        movedAt = 0;
        std::int64_t readoutAt = 0;
        const std::int64_t clicked = Stats::nowNs();
        if (i % 2 == 0)
            a.cmdLeft_Click();
        else
            a.cmdRight_Click();
        QElapsedTimer timeout;
        timeout.start();
        while ((!movedAt || !readoutAt) && timeout.elapsed() < 1000) {
            if (!readoutAt && a.Label5->text() != before)
                readoutAt = Stats::nowNs();
            if (!movedAt || !readoutAt)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (!movedAt || !readoutAt) {
            std::fprintf(stderr, "step %d: %s did not follow\n", i,
                         movedAt ? "the readout" : "the other window");
            return std::nullopt;
        }
        latencies.push_back(double(movedAt - clicked) / 1e6);
        readouts.push_back(double(readoutAt - clicked) / 1e6);
    }
    QObject::disconnect(connection);
    StepResult result;
    result.steps = steps;
    result.p50Ms = Stats::percentile(latencies, 50);
    result.p99Ms = Stats::percentile(latencies, 99);
    result.readoutP99Ms = Stats::percentile(readouts, 99);
    return result;
}

double ClientBench::actionApplyNs(int iterations)
{
    // The program's own path: the read dispatched, the tick applying it, the
    // window's image following.
    frmMain form;
    ClientSession &session = form.session();
    const SessionProbe probe(session);
    const QString packets[2] = {QStringLiteral("Action3GoLeftGimboX1800Y480Z") + QChar(0),
                                QStringLiteral("Action3GoRightGimboX1750Y480Z") + QChar(0)};
    const std::int64_t start = Stats::nowNs();
    for (int i = 0; i < iterations; ++i) {
        session.receive(packets[i & 1]);
        probe.Action_Timer();
    }
    return double(Stats::nowNs() - start) / iterations;
}

std::optional<double> ClientBench::chatBurstAnswerMs(int lines)
{
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost, 0);
    frmMain form;
    form.session().setDefaultPort(listener.serverPort());
    form.setEndProgram([] {});
    form.Form_Load();
    form.show();
    form.cmdConnection_Click();
    if (!waitFor([&] { return listener.hasPendingConnections(); }, 5000))
        return std::nullopt;
    QTcpSocket *peer = listener.nextPendingConnection();
    peer->write("ClientNumber1");
    QByteArray got;
    if (!waitFor([&] { return (got += peer->readAll()).contains("StLeft"); }, 5000))
        return std::nullopt;
    got.clear();
    QByteArray burst;
    for (int i = 0; i < lines; ++i)
        burst += "[Bob] - line " + QByteArray::number(i) + " of the burst\r\n" + '\0';
    burst += QByteArray("NewUser\0", 8);
    peer->write(burst);
    while (peer->bytesToWrite() > 0)
        peer->waitForBytesWritten(1000);
    const std::int64_t lastByte = Stats::nowNs();
    if (!waitFor([&] { return (got += peer->readAll()).contains("StLeft"); }, 10000))
        return std::nullopt;
    return double(Stats::nowNs() - lastByte) / 1e6;
}

double ClientBench::numberFloodMs(qsizetype bytes)
{
    frmMain form;
    QString read;
    while (read.size() < bytes)
        read += QStringLiteral("ClientNumber");
    read += QChar(0); // ended, so that all of it is cut into pieces now
    const std::int64_t start = Stats::nowNs();
    form.session().receive(read);
    QCoreApplication::processEvents();
    return double(Stats::nowNs() - start) / 1e6;
}

namespace {

// A hostile server of raw sockets on loopback, which the window connects to
// and which gives it its number: its end of the connection, or -1.
int hostileServerFor(frmMain &form)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return -1;
    form.session().setDefaultPort(ntohs(addr.sin_port));
    form.setEndProgram([] {});
    form.Form_Load();
    form.show();
    form.cmdConnection_Click();
    const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    if (peer < 0 || ::send(peer, "ClientNumber0", 13, MSG_NOSIGNAL) != 13 ||
        !waitFor([&form] { return form.session().numbered(); }, 5000)) {
        if (peer >= 0)
            ::close(peer);
        return -1;
    }
    return peer;
}

} // namespace

std::optional<HostileResult> ClientBench::underTinyPackets(double mbPerSecond, double seconds)
{
    frmMain form;
    const int peer = hostileServerFor(form);
    if (peer < 0)
        return std::nullopt;
    waitFor([] { return false; }, 300);
    HostileResult result;
    result.idleRssMiB = currentRssMiB();

    std::atomic<bool> done = false;
    std::atomic<double> maxRss = result.idleRssMiB;
    std::vector<std::int64_t> posted;
    std::vector<std::int64_t> arrived;
    // The hostile server in a thread of its own, so that its pace does not
    // depend on the window's thread it is flooding.
    std::thread server([&] {
        const QByteArray chunk = QByteArray("[\0", 2).repeated(int(mbPerSecond * 1e6 / 1000 / 2));
        const std::int64_t start = Stats::nowNs();
        const auto end = start + std::int64_t(seconds * 1e9);
        std::int64_t nextChunk = start;
        std::int64_t nextClick = start + 50'000'000;
        std::int64_t nextSample = start;
        qsizetype offset = 0;
        QByteArray in;
        bool right = true;
        while (Stats::nowNs() < end) {
            const std::int64_t now = Stats::nowNs();
            if (now >= nextChunk) {
                // The offered rate: what the socket does not take now is skipped.
                const ssize_t n =
                    ::send(peer, chunk.constData() + offset, size_t(chunk.size() - offset),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
                offset = n > 0 ? (offset + n) % chunk.size() : offset;
                nextChunk += 1'000'000;
            }
            if (now >= nextClick) {
                const bool goRight = right;
                right = !right;
                posted.push_back(Stats::nowNs());
                QMetaObject::invokeMethod(
                    &form,
                    [&form, goRight] { goRight ? form.cmdRight_Click() : form.cmdLeft_Click(); },
                    Qt::QueuedConnection);
                nextClick += 50'000'000;
            }
            if (now >= nextSample) {
                maxRss = std::max(maxRss.load(), currentRssMiB());
                nextSample += 100'000'000;
            }
            pollfd p{peer, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) {
                char buffer[4096];
                const ssize_t n = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) {
                    in.append(buffer, n);
                    for (qsizetype at; (at = in.indexOf("Action0Go")) >= 0; in.remove(0, at + 9))
                        arrived.push_back(Stats::nowNs());
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        done = true;
    });
    waitFor([&done] { return done.load(); }, int(seconds * 1000) + 5000);
    server.join();
    ::close(peer);
    result.rssMiB = maxRss;
    std::vector<double> latencies;
    for (std::size_t i = 0; i < posted.size(); ++i) {
        // A click that never reached the wire counts as the whole run.
        const std::int64_t at =
            i < arrived.size() ? arrived[i] : posted[i] + std::int64_t(seconds * 1e9);
        latencies.push_back(double(at - posted[i]) / 1e6);
    }
    result.clickP99Ms = Stats::percentile(latencies, 99);
    return result;
}
