// SPDX-License-Identifier: MIT
#include "server/carriers/Entrance.h"
#include "server/carriers/StageDoor.h"

#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <vector>

// The stage's door against a fake stage: it asks before a socket exists and
// hands every connection it lets in to the entrance, carried as TCP.
class TestStageDoor : public QObject
{
    Q_OBJECT

    struct FakeStage : Entrance
    {
        bool letIn = true;
        int asked = 0;
        std::vector<std::pair<std::unique_ptr<Link>, StageFigures::Carrier>> adopted;

        bool admit(const QHostAddress &) override
        {
            ++asked;
            return letIn;
        }
        void adopt(Link *link, StageFigures::Carrier carrier) override
        {
            adopted.emplace_back(link, carrier);
        }
    };

private slots:
    void asksThenHandsOver()
    {
        FakeStage stage;
        StageDoor door(stage);
        QVERIFY(door.listen(QHostAddress::LocalHost, 0));
        QTcpSocket in;
        in.connectToHost(QHostAddress::LocalHost, door.port());
        QTRY_COMPARE(stage.adopted.size(), std::size_t(1));
        QCOMPARE(stage.asked, 1);
        QCOMPARE(stage.adopted[0].second, StageFigures::Carrier::Tcp);
        QCOMPARE(stage.adopted[0].first->peerAddress(), QHostAddress(QHostAddress::LocalHost));
        in.write("\x0A"
                 "Ann",
                 4);
        QTRY_COMPARE(stage.adopted[0].first->bytesAvailable(), qint64(4));

        // Turned away before a socket exists: closed, nothing handed over.
        stage.letIn = false;
        QTcpSocket out;
        out.connectToHost(QHostAddress::LocalHost, door.port());
        QTRY_COMPARE(stage.asked, 2);
        QTRY_COMPARE(out.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(stage.adopted.size(), std::size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestStageDoor)
#include "tst_stagedoor.moc"
