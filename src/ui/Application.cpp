#include "Application.h"

#include "app/HandoffServer.h"
#include "app/Startup.h"
#include "archivers/Availability.h"
#include "platform/TerminationSignal.h"
#include "ui/main/MainWindow.h"
#include "ui/main/RunControl.h"
#include "ui/options/GeneralOptionsDialog.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

namespace salvo {

int runSalvoExtractor(QApplication &app)
{
    const Launch launch = prepareLaunch(app.arguments().mid(1), QCoreApplication::applicationDirPath());
    if (launch.handedOff)
        return 0;
    const QString &myPath = launch.myPath;
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/shell/salvo-extractor.svg")));
    const LaunchRequest &request = launch.request;

    // Termination requests wait in the event loop until start-up is over.
    onTerminationRequest([] {
        // Close every window as its close box would; the main window saves its
        // state on the way out.
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows)
            w->close();
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    });

    HandoffServer server(launch.socketPath);
    if (!server.listen())
        qWarning("hand-off socket %s could not be created", qPrintable(launch.socketPath));

    MainWindow window(myPath, request.mode);
    QObject::connect(&server, &HandoffServer::received, &window, &MainWindow::receiveHandoff);
    QObject::connect(&window, &MainWindow::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    RunControl &ui = *window.runControl();
    const Availability availability =
        settleAvailability(myPath, ComponentLocator::forProgram(myPath, launch.executableDir),
                              [&ui](const QString &message) { ui.showMessage(message, MessageIcon::Error); });
    window.startUp(availability, request.fileList);

    GeneralOptionsDialog *options = nullptr;
    switch (request.mode) {
    case LaunchMode::Normal:
        window.show();
        break;
    case LaunchMode::DdMode:
        break; // the run starts from the event loop; its window stays hidden
    case LaunchMode::DdModeSetting:
        options = new GeneralOptionsDialog(myPath, availability);
        options->setAttribute(Qt::WA_DeleteOnClose);
        options->launchMode = LaunchMode::DdModeSetting;
        // Closing the dialog in any way closes the main window, which ends the program.
        QObject::connect(options, &QDialog::finished, &window, &QWidget::close);
        options->show();
        break;
    }
    return app.exec();
}

} // namespace salvo
