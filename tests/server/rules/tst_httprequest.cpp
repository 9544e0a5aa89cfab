// SPDX-License-Identifier: MIT
#include "server/rules/HttpRequest.h"

#include <QTest>

// Reading a request head: where it ends, whatever pieces it comes in, what
// is a head at all, and the bound.
class TestHttpRequest : public QObject
{
    Q_OBJECT

    using State = HttpRequestReader::State;

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("keepsAlive");
        QTest::addColumn<bool>("crlf");
        QTest::newRow("plain") << QByteArray("GET /a.css?x=1 HTTP/1.1\r\nHost: h\r\n\r\n") << true
                               << QByteArray("/a.css") << true << true;
        QTest::newRow("close") << QByteArray("GET / HTTP/1.1\r\nConnection: Close\r\n\r\n") << true
                               << QByteArray("/") << false << true;
        QTest::newRow("close in a list")
            << QByteArray("GET / HTTP/1.1\r\nConnection: foo, close\r\n\r\n") << true
            << QByteArray("/") << false << true;
        QTest::newRow("1.0") << QByteArray("GET / HTTP/1.0\r\n\r\n") << true << QByteArray("/")
                             << false << true;
        QTest::newRow("1.0 keep-alive")
            << QByteArray("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n") << true
            << QByteArray("/") << true << true;
        QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.1\nHost: h\n\n") << true
                                 << QByteArray("/") << true << false;
        QTest::newRow("no fields")
            << QByteArray("HEAD / HTTP/1.1\r\n\r\n") << true << QByteArray("/") << true << true;
        QTest::newRow("HTTP/2 preface")
            << QByteArray("PRI * HTTP/2.0\r\n\r\n") << false << QByteArray() << false << false;
        QTest::newRow("no version")
            << QByteArray("GET /\r\n\r\n") << false << QByteArray() << false << false;
        QTest::newRow("two blanks")
            << QByteArray("GET  / HTTP/1.1\r\n\r\n") << false << QByteArray() << false << false;
        QTest::newRow("a control in the target")
            << QByteArray("GET /\x01 HTTP/1.1\r\n\r\n") << false << QByteArray() << false << false;
        QTest::newRow("a folded field") << QByteArray("GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n")
                                        << false << QByteArray() << false << false;
        QTest::newRow("blank before the colon") << QByteArray("GET / HTTP/1.1\r\nHost : h\r\n\r\n")
                                                << false << QByteArray() << false << false;
        QTest::newRow("a NUL in a value") << QByteArray("GET / HTTP/1.1\r\nHost: h\0x\r\n\r\n", 29)
                                          << false << QByteArray() << false << false;
        QTest::newRow("empty") << QByteArray("\r\n\r\n") << false << QByteArray() << false << false;
        QTest::newRow("not ended")
            << QByteArray("GET / HTTP/1.1\r\n") << false << QByteArray() << false << false;
    }
    void parse()
    {
        QFETCH(QByteArray, head);
        QFETCH(bool, valid);
        const auto request = HttpRequest::parse(head);
        QCOMPARE(request.has_value(), valid);
        if (!valid)
            return;
        QFETCH(QByteArray, path);
        QFETCH(bool, keepsAlive);
        QFETCH(bool, crlf);
        QCOMPARE(request->path(), path);
        QCOMPARE(request->keepsAlive(), keepsAlive);
        QCOMPARE(request->crlf, crlf);
    }

    void fields()
    {
        const auto request = HttpRequest::parse("GET / HTTP/1.1\r\nHOST:  Example:80 \r\n"
                                                "Upgrade: websocket\r\nHost: second\r\n"
                                                "Content-Length: 0\r\n\r\n");
        QVERIFY(request);
        QCOMPARE(request->field("host"), QByteArray("Example:80")); // the first one
        QVERIFY(request->has("upgrade"));
        QVERIFY(!request->has("origin"));
        QCOMPARE(request->field("origin"), QByteArray());
        QVERIFY(!request->announcesBody()); // a length of zero
        QVERIFY(
            HttpRequest::parse("POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\n")->announcesBody());
        QVERIFY(HttpRequest::parse("GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                    ->announcesBody());
    }

    // The same head ends at the same place whatever pieces it comes in, and
    // what follows it is not taken for part of it.
    void endsWhereverItIsCut()
    {
        const QByteArray head = "GET / HTTP/1.1\r\nHost: h\r\n\r\n";
        const QByteArray next = "GET /next HTTP/1.1\r\n";
        const QByteArray bytes = head + next;
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            HttpRequestReader reader(1024);
            reader.append(QByteArrayView(bytes).first(cut));
            const State state = reader.append(QByteArrayView(bytes).sliced(cut));
            QCOMPARE(state, State::Complete);
            QCOMPARE(reader.headLength(), head.size());
            QCOMPARE(reader.head(), head);
        }
        HttpRequestReader bytewise(1024);
        for (const char c : QByteArray("GET / HTTP/1.1\n\r\n"))
            bytewise.append(QByteArrayView(&c, 1));
        QCOMPARE(bytewise.state(), State::Complete);
        QCOMPARE(bytewise.headLength(), 17);
    }

    // A head that has not ended within the bound is refused and not kept,
    // however it comes; one that ends just within it is read.
    void theBound()
    {
        const qsizetype max = 64;
        HttpRequestReader trickle(max);
        State state = State::Reading;
        for (int i = 0; i < 1000 && state == State::Reading; ++i)
            state = trickle.append("a");
        QCOMPARE(state, State::TooLarge);
        QCOMPARE(trickle.append("\r\n\r\n"), State::TooLarge); // and it stays refused

        QByteArray fits = "GET / HTTP/1.1\r\nX: ";
        fits += QByteArray(max - fits.size() - 4, 'a') + "\r\n\r\n";
        QCOMPARE(fits.size(), max);
        HttpRequestReader exact(max);
        QCOMPARE(exact.append(fits), State::Complete);
        HttpRequestReader over(max);
        QCOMPARE(over.append(fits.insert(20, 'a')), State::TooLarge);

        trickle.reset();
        QCOMPARE(trickle.append("GET / HTTP/1.1\r\n\r\n"), State::Complete);
    }
};

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "tst_httprequest.moc"
