// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Answers --help and --version when asked; returns only when not asked.
// They are answered before any window system is touched, so they work in
// an ssh session or a package build without a display.
void answerTextOptions(int argc, char *argv[])
{
    bool asked = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            asked = asked || std::strcmp(argv[i], option) == 0;
    }
    if (!asked)
        return;
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Walk an avatar on a shared online stage and chat."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app); // prints and exits
    std::exit(0);
}

// Without a display to open the window on, Qt would abort with a core dump;
// say so in one line instead. Platforms that need no display (offscreen,
// vnc, ...) go ahead.
bool hasDisplay(int argc, char *argv[])
{
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            platform = argv[i + 1];
    }
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (platform.isEmpty())
        return x11 || wayland;
    if (platform.startsWith("xcb"))
        return x11;
    if (platform.startsWith("wayland"))
        return wayland;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Quandrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUANDREL_VERSION));
    answerTextOptions(argc, argv);
    if (!hasDisplay(argc, argv)) {
        std::fputs("quandrel: no display to open the window on (DISPLAY is not set)\n", stderr);
        return 1;
    }

    QApplication app(argc, argv); // takes Qt's own options (-platform, -style, ...)
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app); // refuses options it does not know
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    frmMain form;
    // Closing the window ends the program on the spot: no handler runs after
    // it and nothing more goes out on the connection.
    form.setEndProgram([] { std::_Exit(0); });
    form.Form_Load();
    form.show();
    // Where no window manager gives the new window the keyboard (a bare X
    // server, a kiosk), the window takes it itself.
    form.activateWindow();
    return app.exec();
}
