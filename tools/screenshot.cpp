// SPDX-License-Identifier: MIT
// Renders the main window to a PNG without a display (offscreen platform):
// a local stage server, two clients, each walks a little, and the first
// client's window is grabbed at twice its size.
//   QT_QPA_PLATFORM=offscreen quandrel-screenshot out.png
#include "app/ImageControl.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "net/Wsk.h"
#include "server/stage/StageServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStyleFactory>

namespace {

void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("stage.png");

    StageServer server;
    server.setLog([](const QString &) {});
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;

    frmMain a;
    frmMain b;
    for (frmMain *form : {&a, &b}) {
        form->session().setDefaultPort(server.port());
        form->Form_Load();
        form->show();
    }
    a.Jaxorin_Click();
    a.cmdConnection_Click();
    settle(200);
    a.cmdRight_Click();
    a.cmdRight_Click();
    a.cmdLeft_Click();
    settle(100);
    b.Nubo_Click();
    b.cmdConnection_Click();
    settle(200);
    for (int i = 0; i < 6; ++i)
        b.cmdLeft_Click();
    settle(100);
    a.txtInput->setText(QStringLiteral("Hello, stage!"));
    a.txtInput_KeyPress(13);
    settle(200);

    const QPixmap shot = a.grab();
    const QPixmap big = shot.scaled(shot.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return big.save(out) ? 0 : 1;
}
