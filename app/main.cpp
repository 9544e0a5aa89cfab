// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv); // takes Qt's own options (-platform, -style, ...)
    QApplication::setApplicationName(QStringLiteral("Quandrel"));
    QApplication::setApplicationVersion(QStringLiteral(QUANDREL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Walk an avatar on a shared online stage and chat."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    frmMain form;
    // Closing the window ends the program on the spot: no handler runs after
    // it and nothing more goes out on the connection.
    form.setEndProgram([] { std::_Exit(0); });
    form.Form_Load();
    form.show();
    return app.exec();
}
