#include "Application.h"

#include "app/HandoffServer.h"
#include "app/Startup.h"
#include "archivers/Availability.h"
#include "platform/TerminationSignal.h"
#include "ui/main/MainWindow.h"
#include "ui/main/RunControl.h"
#include "ui/options/GeneralOptionsDialog.h"
#include "ui/options/SettingsOnlyButtons.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QTranslator>

#include <cstdlib>
#include <memory>

namespace salvo {
namespace {

// How long a termination request waits for the run to let go.
constexpr int kTerminationGraceMs = 4000;

} // namespace

bool installQtTranslations(QCoreApplication &app)
{
    // Dates and sizes in Qt's own windows (the file dialogs) as Japanese writes them.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

int runSalvoExtractor(QApplication &app, const QStringList &arguments)
{
    // Termination requests wait in the event loop until start-up is over (from
    // the moment other instances can find this one).
    auto mainWindow = std::make_shared<QPointer<MainWindow>>();
    onTerminationRequest([mainWindow] {
        MainWindow *main = *mainWindow;
        if (!main) {
            QCoreApplication::exit(0);
            return;
        }
        // A run gives up the archive in hand (what it wrote is removed) and
        // ends; the main window then closes as by its close box, saving its
        // state, and the program ends. Every other window (a question of the
        // run, a dialog) closes first, giving its safe answer.
        main->endForTermination();
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            if (w != main)
                w->close();
        }
        // A last resort for a component that cannot be stopped: the program
        // does not outlive the few seconds a desktop gives it at logout.
        QTimer::singleShot(kTerminationGraceMs, qApp, [] {
            qWarning("the run did not end in time; leaving without it");
            std::_Exit(0);
        });
    });

    if (!installQtTranslations(app))
        qInfo("Qt's Japanese translations (qtbase_ja) are not installed: Qt's own buttons stay in English");

    const Launch launch = prepareLaunch(arguments, QCoreApplication::applicationDirPath());
    if (launch.handedOff)
        return 0;
    if (!launch.notice.isEmpty())
        qInfo("%s", qPrintable(launch.notice));
    const QString &myPath = launch.myPath;
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/shell/salvo-extractor.svg")));
    const LaunchRequest &request = launch.request;

    MainWindow window(myPath, request.mode);
    *mainWindow = &window;
    if (HandoffServer *server = launch.server.get()) {
        // Only the interactive window takes files: a DD-mode run ends with the
        // files it started with, and the settings dialog has no queue. Their
        // senders handle their files themselves.
        server->setAccepting(request.mode == LaunchMode::Normal);
        QObject::connect(server, &HandoffServer::received, &window, &MainWindow::receiveHandoff);
    }
    QObject::connect(&window, &MainWindow::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    RunControl &ui = *window.runControl();
    const Availability availability =
        settleAvailability(myPath, ComponentLocator::forProgram(myPath, launch.executableDir),
                              [&ui](const QString &message) { ui.showMessage(message, MessageIcon::Error); });
    window.startUp(availability, request.files);

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
        addSettingsOnlyButtons(options, myPath);
        // Closing the dialog in any way closes the main window, which ends the program.
        QObject::connect(options, &QDialog::finished, &window, &QWidget::close);
        options->show();
        break;
    }
    return app.exec();
}

} // namespace salvo
