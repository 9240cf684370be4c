#include "platform/LocalPath.h"
#include "ui/Application.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Every argument is the program's own: Qt is shown only the program name, so
    // that a file named like one of its options ("-session", "-stylesheet") is
    // queued, not consumed. Names keep their bytes even when they are not UTF-8.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << salvo::pathFromLocalBytes(QByteArray(argv[i]));
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("SalvoExtractor"));
    // The program ends when its main window closes, not when its last visible
    // window does (in DD mode no window is visible at all).
    QApplication::setQuitOnLastWindowClosed(false);
    return salvo::runSalvoExtractor(app, arguments);
}
