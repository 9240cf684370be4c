#pragma once
// The main window: the archive queue, the target and archiving drop-downs, the
// start, option and close buttons, the menus and the five-panel status bar. It
// builds its parts and wires them; each part is a class of its own:
// QueueView (the list, drag and drop, list files), RunControl (the batch run),
// MainMenus (menus), StatusPanels (status bar and its toggles), ViewerDocking
// (the content viewer at its right edge).
#include "app/ArchiveQueue.h"
#include "app/QueueFilter.h"
#include "app/UnzipResultSwitch.h"
#include "archivers/Availability.h"
#include "settings/Modes.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <set>

class QComboBox;
class QPushButton;

namespace salvo {

class ArchiveProbe;
class ComponentCaller;
class ContentViewer;
class MainMenus;
class QueueView;
class RunControl;
class RunProgressView;
class Settings;
class StatusPanels;
class ViewerDocking;
struct RunOutcome;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(QString myPath, LaunchMode launchMode, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Start-up steps that follow the availability check, in their order.
    void startUp(const Availability &availability, const QStringList &files);

    // Adds files and folders of the command line or a hand-off to the queue.
    AddResult addPaths(const QStringList &paths);
    // Handles the files handed over by a second instance (none: it only wants
    // the window in front).
    void receiveHandoff(const QStringList &paths);
    // Shows the window in a working mode; Unset changes the mode only.
    void applyWorkingMode(WorkingMode mode);
    WorkingMode workingMode() const { return m_workingMode; }
    // The start button: starts a run, or stops the one in progress.
    void startRun();
    // A queued archive is activated: the content viewer opens on it (docked at
    // the right edge) and its entry count and size go to the status bar once read.
    void openCurrentArchive();
    // The font size of the general options ("FONTSIZE"): the window's font and
    // the status bar's height.
    void applyFontSize();
    // The program is to end (a termination signal): a run in progress gives up
    // the archive in hand and ends; the window then closes as by its close box.
    void endForTermination();

    QString statusText(int panel) const;
    QString windowTitleBase() const;
    // Closes the window at the end of a DD-mode run: nothing of its state is saved.
    void endWithoutSaving();

    const QString &myPath() const { return m_myPath; }
    LaunchMode launchMode() const { return m_launchMode; }
    const Availability &availability() const { return m_availability; }
    ArchiveQueue &queue() { return m_queue; }
    QueueFilter &queueFilter() { return m_filter; }
    ComponentCaller *componentCaller() const { return m_caller.get(); }
    ArchiveProbe *probe() const { return m_probe.get(); }

    QueueView *queueView() const { return m_queueView; }
    RunControl *runControl() const { return m_run; }
    MainMenus *menus() const { return m_menus; }
    StatusPanels *statusPanels() const { return m_status; }
    ViewerDocking *docking() const { return m_docking; }
    RunProgressView *progressView() const { return m_progressView; }
    // The content viewer while it is open.
    ContentViewer *viewer() const;

    QComboBox *targetPlaceBox = nullptr;   // `cmbTargetPlace`
    QComboBox *archiveMethodBox = nullptr; // `cmbArcMethod`
    QComboBox *archiveTypeBox = nullptr;   // `cmbArcType`
    QPushButton *startButton = nullptr;    // `Btn_Start`
    QPushButton *optionButton = nullptr;   // `Btn_Option`
    QPushButton *closeButton = nullptr;    // `Btn_Close`

signals:
    // The main window has closed: the program ends.
    void closed();
    // A batch run has ended and its entries have left the queue.
    void runFinished(int successCount);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWidgets();
    void wireParts();
    void showStartCaption();
    void restoreWindowPlace(const Settings &settings);
    // Moves the window onto the screen it is mostly on when part of it is off.
    void keepOnScreen();
    void finishRun(const RunOutcome &outcome);
    void removeExtracted(int position);
    void shutDown();

    const QString m_myPath;
    const LaunchMode m_launchMode;
    WorkingMode m_workingMode = WorkingMode::Extract;
    Availability m_availability;
    ArchiveQueue m_queue;
    QueueFilter m_filter{m_myPath};
    std::unique_ptr<ComponentCaller> m_caller;
    std::unique_ptr<ArchiveProbe> m_probe;
    UnzipResultSwitch m_unzipResults;

    StatusPanels *m_status = nullptr;
    RunControl *m_run = nullptr;
    QueueView *m_queueView = nullptr;
    MainMenus *m_menus = nullptr;
    ViewerDocking *m_docking = nullptr;
    RunProgressView *m_progressView = nullptr;
    QPointer<ContentViewer> m_viewer;

    // Positions of the current run's queue snapshot already removed.
    std::set<int> m_removedThisRun;

    bool m_closeAfterRun = false;
    bool m_shownOnce = false;
    bool m_shutDownDone = false;
    bool m_saveOnClose = true;
};

} // namespace salvo
