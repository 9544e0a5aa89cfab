#include "app/frmMain.h"

#include <QApplication>
#include <QStyleFactory>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quandrel"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    frmMain form;
    // Closing the window ends the program on the spot: no handler runs after
    // it and nothing more goes out on the connection.
    form.setEndProgram([] { std::_Exit(0); });
    form.Form_Load();
    form.show();
    return app.exec();
}
