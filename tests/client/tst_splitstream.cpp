// SPDX-License-Identifier: MIT
#include "ServerProcess.h"
#include "StagePeer.h"
#include "client/ClientSession.h"
#include "net/Wsk.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>

// A loopback proxy that passes what the server says on in pieces of one
// Ethernet segment's payload, 2 ms apart, as a real network may: packets
// are cut anywhere and one packet can come in two reads.
class SegmentProxy : public QObject
{
public:
    static constexpr qsizetype Segment = 1448;

    explicit SegmentProxy(quint16 serverPort) : m_serverPort(serverPort)
    {
        m_listener.listen(QHostAddress::LocalHost, 0);
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            m_client = m_listener.nextPendingConnection();
            m_server.connectToHost(QHostAddress::LocalHost, m_serverPort);
            connect(m_client, &QTcpSocket::readyRead, this,
                    [this] { m_server.write(m_client->readAll()); });
        });
        connect(&m_server, &QTcpSocket::readyRead, this,
                [this] { m_pending += m_server.readAll(); });
        m_pace.setInterval(2);
        connect(&m_pace, &QTimer::timeout, this, [this] {
            if (m_client && !m_pending.isEmpty()) {
                m_client->write(m_pending.first(std::min(Segment, m_pending.size())));
                m_client->flush();
                m_pending.remove(0, std::min(Segment, m_pending.size()));
                ++pieces;
            }
        });
        m_pace.start();
    }
    quint16 port() const { return m_listener.serverPort(); }
    int pieces = 0;

private:
    quint16 m_serverPort;
    QTcpServer m_listener;
    QTcpSocket *m_client = nullptr;
    QTcpSocket m_server;
    QByteArray m_pending;
    QTimer m_pace;
};

class TestSplitStream : public QObject
{
    Q_OBJECT

private slots:
    void packetsCutByTheNetworkArriveWhole()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--no-notices")}));
        SegmentProxy proxy(server.port());
        ClientSession reader;
        reader.setDefaultPort(proxy.port());
        QVERIFY(reader.connectTo(QStringLiteral("Reader"), QStringLiteral("127.0.0.1")));
        QTRY_VERIFY(reader.numbered());
        StagePeer sender(server.port(), QHostAddress(QStringLiteral("127.0.0.2")));
        QCOMPARE(sender.join("Sender"), 1);

        // A forgery needs the text of a notice in a line: the server sends it nowhere.
        sender.send("[Sender] - " + QByteArray(300, 'x') + "[Quandrel] - You have been muted\r\n");
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto &got = sender.packets();
                return std::any_of(got.begin(), got.end(), [](const QByteArray &p) {
                    return p.startsWith("[Quandrel] - Not sent: ");
                });
            },
            3000));

        // Lines of every length, so that the segments cut them everywhere, then a step.
        QStringList lines;
        for (int i = 0; i < 40; ++i) {
            const QByteArray line =
                "[Sender] - " + QByteArray(7 * i + 13, char('a' + i % 26)) + "\r\n";
            lines.append(QString::fromLatin1(line));
            sender.send(line);
        }
        sender.send("Action1GoLeftTavroX1200Y480Z");
        QTRY_COMPARE(reader.image(1).Left(), 1150.0f);
        QCOMPARE(reader.image(1).sprite().name, u"TavroLeft");
        const QString transcript = reader.transcript().text();
        for (const QString &line : lines)
            QCOMPARE(transcript.count(line + QStringLiteral("\r\n")), 1);
        QVERIFY(!transcript.contains(QStringLiteral("muted")));
        QVERIFY(proxy.pieces > 3);
    }
};

QTEST_GUILESS_MAIN(TestSplitStream)
#include "tst_splitstream.moc"
