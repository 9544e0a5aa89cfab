// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"
#include "server/operator/ProcessFigures.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

// The page and its WebSocket against the real server binary: what is served
// and with which headers, what is refused, and the bounds on both.
class TestWeb : public QObject
{
    Q_OBJECT

    struct Reply
    {
        int status = 0;
        QByteArray head;
        QByteArray body;
        QByteArray header(const QByteArray &name) const
        {
            for (const QByteArray &line : head.split('\n')) {
                if (line.toLower().startsWith(name.toLower() + ':'))
                    return line.mid(name.size() + 1).trimmed();
            }
            return {};
        }
    };

    // One request on a connection of its own; the whole reply.
    static Reply request(quint16 port, const QByteArray &text, const QHostAddress &from = {})
    {
        QTcpSocket socket;
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(3000);
        socket.write(text);
        return readReply(socket);
    }

    static Reply readReply(QTcpSocket &socket, bool head = false)
    {
        Reply reply;
        QByteArray in;
        // A reply cut short shows in its status and length, which callers check.
        (void)QTest::qWaitFor(
            [&] {
                in += socket.readAll();
                const qsizetype end = in.indexOf("\r\n\r\n");
                if (end < 0)
                    return socket.state() != QAbstractSocket::ConnectedState;
                reply.head = in.left(end);
                const qsizetype length = head ? 0 : reply.header("Content-Length").toLongLong();
                return in.size() >= end + 4 + length;
            },
            5000);
        reply.status = in.mid(9, 3).toInt();
        const qsizetype end = in.indexOf("\r\n\r\n");
        reply.body = end < 0 ? QByteArray() : in.mid(end + 4);
        in.clear();
        return reply;
    }

    static QByteArray get(const QByteArray &path, const QByteArray &extra = {})
    {
        return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
    }

    static QByteArray upgrade(const QByteArray &path, const QByteArray &host,
                              const QByteArray &origin, const QByteArray &end = "\r\n")
    {
        QByteArray text = "GET " + path + " HTTP/1.1" + end + "Host: " + host + end +
                          "Upgrade: websocket" + end + "Connection: Upgrade" + end +
                          "Sec-WebSocket-Version: 13" + end +
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==" + end;
        if (!origin.isEmpty())
            text += "Origin: " + origin + end;
        return text + end;
    }

    // A WebSocket to the stage on a plain socket, for frames no browser sends.
    static bool handshake(QTcpSocket &socket, quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(3000))
            return false;
        socket.write(upgrade("/stage", "127.0.0.1:" + QByteArray::number(port), {}));
        return readReply(socket, true).status == 101;
    }

    // A WebSocket to the stage, opened with this Origin (none when empty).
    static std::unique_ptr<QWebSocket> openStage(quint16 port, const QByteArray &origin = {})
    {
        auto socket = std::make_unique<QWebSocket>(QString::fromLatin1(origin));
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/stage").arg(port)));
        // Callers check the state it ended in.
        (void)QTest::qWaitFor(
            [&] {
                return socket->state() == QAbstractSocket::ConnectedState ||
                       socket->state() == QAbstractSocket::UnconnectedState;
            },
            5000);
        return socket;
    }

    // A browser's WebSocket from the server's own page, joined as "Web";
    // every message it gets lands in `got`, the first already there.
    std::unique_ptr<QWebSocket> joinFromPage(quint16 webPort, QList<QByteArray> &got)
    {
        auto page = openStage(webPort, "http://127.0.0.1:" + QByteArray::number(webPort));
        if (page->state() != QAbstractSocket::ConnectedState)
            return nullptr;
        connect(page.get(), &QWebSocket::binaryMessageReceived, this,
                [&got](const QByteArray &message) { got.append(message); });
        page->sendBinaryMessage(QByteArray("\x0AWeb\0", 5));
        return QTest::qWaitFor([&] { return !got.isEmpty(); }, 5000) ? std::move(page) : nullptr;
    }

private slots:
    void servesThePageWithItsHeaders()
    {
        ServerProcess server;
        QVERIFY(server.start());
        const Reply page = request(server.webPort(), get("/"));
        QCOMPARE(page.status, 200);
        QCOMPARE(page.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        QVERIFY(page.body.contains("<script type=\"module\" src=\"/page.js\">"));
        for (const QByteArray &path : {QByteArray("/"), QByteArray("/page.js"),
                                       QByteArray("/favicon.ico"), QByteArray("/nope")}) {
            const Reply reply = request(server.webPort(), get(path));
            QVERIFY2(reply.header("Content-Security-Policy").contains("script-src 'self'"), path);
            QVERIFY(!reply.header("Content-Security-Policy").contains("unsafe-inline"));
            QCOMPARE(reply.header("X-Content-Type-Options"), QByteArray("nosniff"));
            QCOMPARE(reply.header("Referrer-Policy"), QByteArray("no-referrer"));
            QVERIFY(!reply.header("Cache-Control").isEmpty());
        }
        QCOMPARE(request(server.webPort(), get("/page.js")).header("Content-Type"),
                 QByteArray("text/javascript; charset=utf-8"));
        QCOMPARE(request(server.webPort(), get("/favicon.ico")).header("Content-Type"),
                 QByteArray("image/png"));
        QCOMPARE(request(server.webPort(), get("/sprites/GimboLeft.gif")).status, 200);

        // Only its own files: nothing from the file system, however asked.
        for (const QByteArray &path : {QByteArray("/nope"), QByteArray("/../server/main.cpp"),
                                       QByteArray("/%2e%2e/etc/passwd"), QByteArray("/index.html/"),
                                       QByteArray("//etc/passwd"), QByteArray("/web/page.js")})
            QCOMPARE(request(server.webPort(), get(path)).status, 404);

        // HEAD: the same head, no body; other methods: 405.
        QTcpSocket head;
        head.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(head.waitForConnected(3000));
        head.write("HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        const Reply headReply = readReply(head, true);
        QCOMPARE(headReply.status, 200);
        QCOMPARE(headReply.header("Content-Length").toInt(), page.body.size());
        QVERIFY(headReply.body.isEmpty());
        const Reply post = request(
            server.webPort(), "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3\r\n\r\nabc");
        QCOMPARE(post.status, 405);
        QCOMPARE(post.header("Allow"), QByteArray("GET, HEAD"));

        // Asked again with its tag: not sent again.
        const Reply again =
            request(server.webPort(), get("/", "If-None-Match: " + page.header("ETag") + "\r\n"));
        QCOMPARE(again.status, 304);
        QVERIFY(again.body.isEmpty());
        QCOMPARE(request(server.webPort(), get("/stage")).status, 426);
    }

    // One connection, several requests: answered in turn; it ends when the
    // client says so, or when a request is not one to answer.
    void whereAConnectionEnds()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(socket.waitForConnected(3000));
        // Two requests in one write: two answers, the second the second file's.
        socket.write(get("/style.css") + get("/page.js"));
        QByteArray both;
        QTRY_VERIFY_WITH_TIMEOUT((both += socket.readAll()).count("HTTP/1.1 200 OK") == 2 &&
                                     both.contains("text/javascript"),
                                 5000);
        QVERIFY(both.indexOf("text/css") < both.indexOf("text/javascript"));
        socket.write(get("/", "Connection: close\r\n"));
        const Reply last = readReply(socket);
        QCOMPARE(last.status, 200);
        QCOMPARE(last.header("Connection"), QByteArray("close"));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 3000);

        // Each of these is answered and closed at once, not held to its deadline.
        const QByteArray self = "127.0.0.1:" + QByteArray::number(server.webPort());
        const std::pair<QByteArray, int> refused[] = {
            {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\nhello", 400},
            {"DELETE / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 405},
            {"GET / HTTP/2.0\r\n\r\n", 400},
            {"hello\r\n\r\n", 400},
            {upgrade("/stage", self, "http://" + self, "\n"), 400},
        };
        for (const auto &[text, status] : refused) {
            QElapsedTimer clock;
            clock.start();
            QTcpSocket one;
            one.connectToHost(QHostAddress::LocalHost, server.webPort());
            QVERIFY(one.waitForConnected(3000));
            one.write(text);
            QVERIFY2(readReply(one).status == status, text);
            QTRY_COMPARE_WITH_TIMEOUT(one.state(), QAbstractSocket::UnconnectedState, 3000);
            QVERIFY2(clock.elapsed() < 2000, text);
        }
        QCOMPARE(request(server.webPort(), get("/")).status, 200);
    }

    void slowAndOversizedRequestsAreClosed()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--request-timeout"), QStringLiteral("0.5")}));
        QTcpSocket big;
        big.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(big.waitForConnected(3000));
        big.write("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(64 * 1024, 'a'));
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(big.state(), QAbstractSocket::UnconnectedState, 5000);
        QVERIFY2(clock.elapsed() < 450, "closed for its size, not its time");

        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(slow.waitForConnected(3000));
        slow.write("GET / HTTP/1.1\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(slow.state(), QAbstractSocket::UnconnectedState, 5000);
        // A whole request in time is answered as ever.
        QCOMPARE(request(server.webPort(), get("/")).status, 200);
    }

    void requestsPerAddressGroupAreLimited()
    {
        ServerProcess server;
        QVERIFY(server.start());
        const QHostAddress other(QStringLiteral("127.0.0.2"));
        QTcpSocket socket;
        socket.bind(other);
        socket.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(socket.waitForConnected(3000));
        int answered = 0;
        Reply last;
        for (int i = 0; i < 200 && last.status != 429; ++i) {
            socket.write(get("/style.css"));
            last = readReply(socket);
            answered += last.status == 200 ? 1 : 0;
        }
        QCOMPARE(last.status, 429);
        QCOMPARE(last.header("Retry-After"), QByteArray("1"));
        QVERIFY2(answered >= 100, QByteArray::number(answered));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 3000);
        // Loopback itself has no such budget.
        for (int i = 0; i < 150; ++i)
            QCOMPARE(request(server.webPort(), get("/style.css")).status, 200);
    }

    void connectionsPerAddressGroupAreBounded()
    {
        ServerProcess server;
        QVERIFY(server.start());
        const QHostAddress other(QStringLiteral("127.0.0.2"));
        // Held open, each shown to work by a request answered. The connect
        // budget lets ten through at once and ten a second after.
        std::vector<std::unique_ptr<QTcpSocket>> open;
        const auto tryOne = [&] {
            auto socket = std::make_unique<QTcpSocket>();
            socket->bind(other);
            socket->connectToHost(QHostAddress::LocalHost, server.webPort());
            if (!socket->waitForConnected(1000))
                return std::unique_ptr<QTcpSocket>();
            socket->write(get("/style.css"));
            return readReply(*socket).status == 200 ? std::move(socket)
                                                    : std::unique_ptr<QTcpSocket>();
        };
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (auto socket = tryOne())
                    open.push_back(std::move(socket));
                return open.size() == std::size_t(16);
            },
            10'000));
        // The 17th is turned away however long it waits for the budget.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1500)
            QVERIFY(!tryOne());
        // One closes: there is room again.
        open.pop_back();
        QVERIFY(QTest::qWaitFor([&] { return tryOne() != nullptr; }, 5000));
    }

    // Every page connection gives its slot back, upgraded or refused: a
    // hundred upgrades of every outcome from one address leave it free to
    // load the page.
    void upgradesGiveTheirSlotsBack()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--connect-rate"), QStringLiteral("0")}));
        const QHostAddress other(QStringLiteral("127.0.0.2"));
        const QByteArray self = "127.0.0.1:" + QByteArray::number(server.webPort());
        const QByteArray kinds[][3] = {
            {"/stage", self, "http://" + self},                // let through: 101
            {"/stage", self, "http://evil.example"},           // another site: 403
            {"/elsewhere", self, ""},                          // not the stage: 404
            {"/stage", "evil.example", "http://evil.example"}, // another name: 421
        };
        std::map<int, int> outcomes;
        for (int i = 0; i < 100; ++i) {
            const auto &kind = kinds[i % 4];
            QTcpSocket socket;
            socket.bind(other);
            socket.connectToHost(QHostAddress::LocalHost, server.webPort());
            QVERIFY(socket.waitForConnected(3000));
            socket.write(upgrade(kind[0], kind[1], kind[2]));
            const Reply reply = readReply(socket, true);
            ++outcomes[reply.status];
            socket.abort();
        }
        // Past the request budget: 429, and those too give their slots back.
        for (int i = 0; i < 400 && outcomes[429] < 20; ++i) {
            QTcpSocket socket;
            socket.bind(other);
            socket.connectToHost(QHostAddress::LocalHost, server.webPort());
            QVERIFY(socket.waitForConnected(3000));
            socket.write(upgrade("/elsewhere", self, {}));
            ++outcomes[readReply(socket, true).status];
        }
        for (int status : {101, 403, 404, 421, 429})
            QVERIFY2(outcomes[status] > 0, QByteArray::number(status));
        QTest::qWait(1500); // the request budget refills
        QTcpSocket page;
        page.bind(other);
        page.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(page.waitForConnected(3000));
        page.write(get("/"));
        QCOMPARE(readReply(page).status, 200);
    }

    // One deadline for the whole request, the WebSocket handshake included,
    // whatever line ends the header.
    void anUpgradeThatNeverEndsIsClosedInTime()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--request-timeout"), QStringLiteral("1")}));
        const QByteArray self = "127.0.0.1:" + QByteArray::number(server.webPort());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(socket.waitForConnected(3000));
        socket.write(upgrade("/stage", self, "http://" + self, "\n"));
        QElapsedTimer clock;
        clock.start();
        while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 5000) {
            socket.write(QByteArray(64, 'a')); // a trickle that never ends the header
            socket.waitForDisconnected(100);
        }
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
    }

    // However long a request may take, an upgrade becomes a WebSocket
    // within a second of its first byte, or not at all.
    void anUpgradeHasOneSecond()
    {
        ServerProcess server;
        QVERIFY(server.start());
        const QByteArray self = "127.0.0.1:" + QByteArray::number(server.webPort());
        const QByteArray text = upgrade("/stage", self, "http://" + self);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.webPort());
        QVERIFY(socket.waitForConnected(3000));
        QElapsedTimer clock;
        clock.start();
        // A line at a time, the whole request in 1.3 s: within the request
        // time of 10 s, past the upgrade's second.
        const QList<QByteArray> lines = text.split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            socket.write(lines[i] + '\n');
            socket.waitForBytesWritten(100);
            const qint64 until = (i + 1) * 1300 / (lines.size() - 1);
            while (clock.elapsed() < until && socket.state() == QAbstractSocket::ConnectedState)
                socket.waitForDisconnected(10);
        }
        const Reply reply = readReply(socket, true);
        QVERIFY2(reply.status == 408 || reply.status == 0, QByteArray::number(reply.status));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 3000);
        QVERIFY2(clock.elapsed() < 2500, QByteArray::number(clock.elapsed()));
        // The same request at once becomes a WebSocket.
        QCOMPARE(request(server.webPort(), text).status, 101);
    }

    // The page answers only to its own names, so that a hostile name pointed
    // at this server cannot open the stage from a visitor's browser.
    void onlyItsOwnNames()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--web-host"), QStringLiteral("stage.example.net")}));
        const QByteArray port = ":" + QByteArray::number(server.webPort());
        for (const QByteArray host : {"127.0.0.1", "localhost", "LocalHost.", "stage.example.net"})
            QVERIFY2(
                request(server.webPort(), get("/", {}).replace("127.0.0.1", host + port)).status ==
                    200,
                host);
        for (const QByteArray host :
             {"evil.example", "127.0.0.1.evil.example", "", "x@127.0.0.1"}) {
            QCOMPARE(request(server.webPort(), get("/").replace("127.0.0.1", host + port)).status,
                     421);
            const Reply up =
                request(server.webPort(), upgrade("/stage", host + port, "http://" + host + port));
            QCOMPARE(up.status, 421);
        }
        const Reply named = request(server.webPort(), upgrade("/stage", "stage.example.net" + port,
                                                              "http://stage.example.net" + port));
        QCOMPARE(named.status, 101);
    }

    // Every byte a peer makes the server write is paid for: a flood of pings
    // spends the group's budget and ends the connection, joined or not, and
    // the server's memory stays where it was.
    // A client's frame: masked, as a client must send it.
    static QByteArray maskedFrame(quint8 opcode, const QByteArray &payload)
    {
        const char mask[4] = {1, 2, 3, 4};
        QByteArray frame;
        frame += char(0x80 | opcode);
        frame += char(0x80 | payload.size()); // under 126 bytes here
        frame += QByteArray(mask, 4);
        for (qsizetype i = 0; i < payload.size(); ++i)
            frame += char(payload[i] ^ mask[i % 4]);
        return frame;
    }

    // Every byte a peer makes the server write is paid for: a flood of pings
    // spends the group's budget and ends the connection, joined or not; and
    // without budgets, what it leaves unread is bounded as for TCP.
    void aPingFloodIsPaidFor_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("join");
        QTest::addColumn<QString>("why");
        QTest::addColumn<int>("opcode");
        QTest::newRow("within the budgets")
            << QStringList() << false << "sent pings over its budget" << 0x9;
        QTest::newRow("joined") << QStringList() << true << "sent pings over its budget" << 0x9;
        QTest::newRow("without budgets") << QStringList{"--rate", "0", "--byte-rate", "0"} << false
                                         << "more than 1048576 bytes unsent" << 0x9;
        QTest::newRow("pongs nobody asked for")
            << QStringList() << false << "sent pongs over its budget" << 0xA;
    }
    void aPingFloodIsPaidFor()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, join);
        QFETCH(QString, why);
        QFETCH(int, opcode);
        ServerProcess server;
        QVERIFY(server.start(options));
        QTRY_VERIFY(server.residentKiB() > 0);
        const qint64 idle = server.residentKiB();
        QTcpSocket socket;
        QVERIFY(handshake(socket, server.webPort()));
        if (join) {
            socket.write(maskedFrame(0x2, QByteArray("\x0A"
                                                     "Flood\0",
                                                     7)));
            QTRY_VERIFY(server.log().contains(u"join ws"));
        }
        // Pings as long as they may be, never reading the pongs: what the
        // kernel has for this socket stays there.
        socket.setReadBufferSize(1);
        QByteArray pings;
        for (int i = 0; i < 1024; ++i)
            pings += maskedFrame(quint8(opcode), QByteArray(125, 'p'));
        QElapsedTimer clock;
        clock.start();
        qint64 peak = idle;
        while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 20000) {
            if (socket.bytesToWrite() < 4 << 20)
                socket.write(pings);
            socket.waitForBytesWritten(5);
            peak = std::max(peak, server.residentKiB());
        }
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY2(server.log().contains(why), qPrintable(server.log()));
#ifndef __SANITIZE_ADDRESS__ // the sanitizer keeps freed memory for a while on purpose
        QVERIFY2(peak < idle + 64 * 1024, QByteArray::number(peak - idle) + " KiB over idle");
#endif
        // The stage goes on for everyone else, the flooder's place free again.
        StagePeer desk(server.port());
        QCOMPARE(desk.join("Desk"), 0);
    }

    // Descriptors are a budget: under a limit of 256, with 300 connections
    // to the page held open from many addresses, a TCP and a WebSocket
    // newcomer still join, and the server does not spin.
    void descriptorsAreABudget()
    {
        ServerProcess server;
        server.setDescriptorLimit(256);
        QVERIFY(server.start());
        QVERIFY(server.log().contains(u"up to 256 descriptors"));
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 300; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->bind(QHostAddress(QStringLiteral("127.0.2.%1").arg(i / 10 + 1)));
            socket->connectToHost(QHostAddress::LocalHost, server.webPort());
            socket->waitForConnected(3000);
            held.push_back(std::move(socket));
        }
        QTest::qWait(500);
        const auto cpuSeconds = [&] {
            return ProcessFigures::cpuSeconds(server.pid());
        };
        const double before = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        StagePeer desk(server.port(), QHostAddress(QStringLiteral("127.0.9.1")));
        QCOMPARE(desk.join("Desk"), 0);
        QList<QByteArray> got;
        const auto page = joinFromPage(server.webPort(), got);
        QVERIFY(page);
        QCOMPARE(got.first(), QByteArray("ClientNumber1"));
        QTest::qWait(1000);
        const double cpuPercent =
            100.0 * (cpuSeconds() - before) / (double(clock.elapsed()) / 1000.0);
        QVERIFY2(cpuPercent < 25, QByteArray::number(cpuPercent));
    }

    void aBrowserIsAClientLikeAnyOther()
    {
        ServerProcess server;
        QVERIFY(server.start());
        StagePeer desk(server.port());
        QCOMPARE(desk.join("Desk"), 0);
        QList<QByteArray> got;
        const auto page = joinFromPage(server.webPort(), got);
        QVERIFY(page);
        // The number alone in its message, then every packet in one of its own.
        QCOMPARE(got.takeFirst(), QByteArray("ClientNumber1"));
        QVERIFY(desk.waitForPackets(1));
        QCOMPARE(desk.packets().last(), QByteArray("NewUser"));
        page->sendBinaryMessage(QByteArray("\x02"
                                           "Action1StLeftNubo X1800\0",
                                           25));
        desk.send("Action0StLeftTavroX1800");
        QTRY_VERIFY(got.contains(QByteArray("Action0StLeftTavroX1800\0", 24)));
        QTRY_VERIFY(got.contains(QByteArray("Action1StLeftNubo X1800\0", 24)));
        QVERIFY(desk.waitForPackets(4));
        QVERIFY(desk.packets().contains("Action1StLeftNubo X1800"));
        // Its own packets only, as for everyone: what is not is not relayed.
        page->sendBinaryMessage(QByteArray("\x02[Desk] - not me\r\n\0", 19));
        page->sendBinaryMessage(QByteArray("\x02[Web] - mine\r\n\0", 16));
        QVERIFY(desk.waitForPackets(5));
        QCOMPARE(desk.packets().last(), QByteArray("[Web] - mine\r\n"));
        QVERIFY(server.log().contains(QStringLiteral("join ws 127.0.0.1:")));
    }

    void whatClosesAWebSocket_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("text");
        QTest::newRow("a text message") << QByteArray("\x0Ax\0", 3) << true;
        QTest::newRow("over 64 KiB")
            << QByteArray("\x0A" + QByteArray(64 * 1024 + 100, 'a') + '\0') << false;
        QTest::newRow("two packets") << QByteArray("\x0Ax\0\x0Ay\0", 6) << false;
        QTest::newRow("no terminator") << QByteArray("\x0Ax") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void whatClosesAWebSocket()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, text);
        ServerProcess server;
        QVERIFY(server.start());
        const auto page = openStage(server.webPort());
        QCOMPARE(page->state(), QAbstractSocket::ConnectedState);
        if (text)
            page->sendTextMessage(QString::fromLatin1(message));
        else
            page->sendBinaryMessage(message);
        QTRY_COMPARE_WITH_TIMEOUT(page->state(), QAbstractSocket::UnconnectedState, 5000);
        // And the place it held is free: the next one joins as 0.
        StagePeer next(server.port());
        QCOMPARE(next.join("Next"), 0);
    }

    void onlyTheServersOwnPageMayOpenTheStage()
    {
        ServerProcess server;
        QVERIFY(server.start());
        const QByteArray own = "http://127.0.0.1:" + QByteArray::number(server.webPort());
        QCOMPARE(openStage(server.webPort(), own)->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(openStage(server.webPort())->state(), QAbstractSocket::ConnectedState);
        for (const QByteArray &origin :
             {QByteArray("http://evil.example"), QByteArray("http://127.0.0.1:1"),
              QByteArray("http://127.0.0.1"), QByteArray("null"), QByteArray("file://")})
            QVERIFY2(openStage(server.webPort(), origin)->state() ==
                         QAbstractSocket::UnconnectedState,
                     origin);
        QVERIFY(
            server.log().contains(QStringLiteral("the page of another site, http://evil.example")));
        // Upgrades anywhere else are not found.
        const QByteArray upgrade = "Connection: Upgrade\r\nUpgrade: websocket\r\n"
                                   "Sec-WebSocket-Version: 13\r\n"
                                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
        QCOMPARE(request(server.webPort(), get("/", upgrade)).status, 404);
    }

    void noWebMeansNoPage()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-web")}));
        QCOMPARE(server.webPort(), quint16(0));
        QVERIFY(!server.log().contains(QStringLiteral("the page is at")));
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
