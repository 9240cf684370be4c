#include "ui/Application.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SalvoExtractor"));
    // The program ends when its main window closes, not when its last visible
    // window does (in DD mode no window is visible at all).
    QApplication::setQuitOnLastWindowClosed(false);
    return salvo::runSalvoExtractor(app);
}
