#include "Application.h"

#include "archivers/Availability.h"
#include "ui/main/MainWindow.h"
#include "app/HandoffProtocol.h"
#include "app/HandoffServer.h"
#include "app/LaunchRequest.h"
#include "platform/ProgramFolder.h"
#include "platform/TerminationSignal.h"
#include "platform/UserIdentity.h"
#include "ui/options/GeneralOptionsDialog.h"

#include <QApplication>
#include <QTimer>

namespace salvo {

int runSalvoExtractor(QApplication &app)
{
    const QString socketPath = handoffSocketPath(QLatin1String(kHandoffName));
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString myPath = resolveMyPath(exeDir);

    const QString commandLine = joinCommandLine(app.arguments().mid(1));
    const bool otherRunning = instanceIsRunning(socketPath);
    const LaunchRequest request = classifyCommandLine(commandLine, otherRunning);

    if (otherRunning) {
        // The running instance takes the files (or only comes to the front) and
        // this one ends at once, writing nothing.
        sendToRunningInstance(socketPath, request.fileList);
        return 0;
    }

    // Termination requests wait in the event loop until start-up is over.
    onTerminationRequest([] {
        // Close every window as its close box would; the main window saves its
        // state on the way out.
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows)
            w->close();
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    });

    HandoffServer server(socketPath);
    if (!server.listen())
        qWarning("hand-off socket %s could not be created", qPrintable(socketPath));

    Form1 form(myPath, request.mode);
    QObject::connect(&server, &HandoffServer::received, &form, &Form1::receiveHandoff);
    QObject::connect(&form, &Form1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    const Availability availability =
        loadArchiverDllStatus(myPath, ComponentLocator::forProgram(myPath, exeDir),
                              [&form](const QString &message) { form.showMessage(message, MessageIcon::Error); });
    form.startUp(availability, request.fileList);

    GeneralOptionsDialog *options = nullptr;
    switch (request.mode) {
    case LaunchMode::Normal:
        form.show();
        break;
    case LaunchMode::DdMode:
        break; // the run starts from the event loop; its window stays hidden
    case LaunchMode::DdModeSetting:
        options = new GeneralOptionsDialog(myPath);
        options->setAttribute(Qt::WA_DeleteOnClose);
        options->launchMode = LaunchMode::DdModeSetting;
        // Closing the dialog in any way closes the main window, which ends the program.
        QObject::connect(options, &QDialog::finished, &form, &QWidget::close);
        options->show();
        break;
    }
    return app.exec();
}

} // namespace salvo
