#pragma once
// The main window's menus: the actions with their captions and check marks,
// and what the items that open other windows and pages do. The main window
// connects the items that act on the queue and the run.
#include "settings/Modes.h"
#include "ui/DesktopOpener.h"

#include <QObject>
#include <QUrl>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;

namespace salvo {

class ArchiveQueue;
class ComponentCaller;
class QueueFilter;
class RunUi;
struct Availability;

class MainMenus : public QObject {
    Q_OBJECT
public:
    MainMenus(QString myPath, RunUi &ui, QMainWindow *window);

    // Captions from the string table.
    void applyCaptions();
    // The mode items' check marks.
    void showWorkingMode(WorkingMode mode);
    // The items of archive creation are hidden: the program only extracts.
    void hideArchiveItems();

    void showErrorLog();
    // Runs the component installer when there is one, else says which
    // components were found and where more go.
    void installComponents(const Availability &availability);
    void showHelp();
    void showOnlineHelp();
    void showAbout(ComponentCaller *caller);
    // True when the dialog was confirmed.
    bool showGeneralOptions(const Availability &availability);
    // `usualFolderTarget`: the main window's target is the usual folder.
    void showExtractionOptions(bool usualFolderTarget);
    // Reached through the archiver item, which stays hidden while the program
    // only extracts, and from the settings-only launch.
    void showArchiverOptions();
    void showQueueFilter(QueueFilter &filter, ArchiveQueue &queue);

    // Opens files and pages on the desktop; tests replace it.
    DesktopOpenFn openUrl;

    QMenu *menuFile = nullptr, *menuTools = nullptr, *menuOptions = nullptr, *menuHelp = nullptr;
    // actionFilter carries its check mark while the queue filter is in force.
    QAction *actionModeExtract = nullptr, *actionModeArchive = nullptr, *modeSeparator = nullptr,
            *actionAddFiles = nullptr, *actionAddFolder = nullptr, *actionStart = nullptr, *actionLoadList = nullptr, *actionSaveList = nullptr,
            *actionFilter = nullptr, *actionSort = nullptr, *actionQuit = nullptr,
            *actionInstallComponents = nullptr, *actionErrorLog = nullptr, *actionGeneralOptions = nullptr,
            *actionExtractionOptions = nullptr, *actionArchiverOptions = nullptr, *actionHelp = nullptr,
            *actionOnlineHelp = nullptr, *actionAbout = nullptr;

private:
    // Opens `url`, or says `failure` when nothing could open it.
    void openOrSay(const QUrl &url, const QString &failure);

    QString m_myPath;
    RunUi &m_ui;
    QMainWindow *m_window;
};

} // namespace salvo
