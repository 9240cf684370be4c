#pragma once
// The main window: the archive queue, the target and archiving drop-downs, the
// start, option and close buttons and the five-panel status bar.
#include "app/ArchiveQueue.h"
#include "archivers/Availability.h"
#include "app/LaunchRequest.h"
#include "engine/RunUi.h"

#include <QMainWindow>
#include <QPixmap>
#include <QUrl>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>

class QAction;
class QMediaPlayer;
class QFileDialog;
class QComboBox;
class QLabel;
class QListView;
class QMenu;
class QPushButton;
class QTimer;

namespace salvo {

class ArchiveInspector;
class BatchRun;
class ProgressWindow;
struct RunOutcome;
class ComponentCaller;
class Settings;

class Form1 : public QMainWindow, public RunUi {
    Q_OBJECT
public:
    Form1(QString myPath, LaunchMode launchMode, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up steps that follow the availability check, in their order.
    void startUp(const Availability &availability, const QString &fileList);

    // Public routines used by the other windows.
    AddResult AddArchiveList(const QString &fileList);
    void ModeChange(const QString &mode);
    void StBarPicMkFldr();
    void StBarPicIgnrDir();
    void Btn_Start_Click();
    void List1_DblClick();

    // Handles a file list handed over by a second instance.
    void receiveHandoff(const QString &fileList);

    // Queue operations of the menus, keys and drag and drop.
    void LoadFileList(const QString &path, const QString &mode);
    void SaveFileList(const QString &path);
    void MnuFileLoadFileList_Click();
    void MnuFileSaveFileList_Click();
    void MnuSort_Click();
    void RemoveSelectedEntries();
    void SelectAllEntries();
    // Adds dropped files and folders; folders are scanned off the window's
    // thread. `done` runs when they are in the queue.
    void dropPaths(const QStringList &paths, std::function<void()> done = {});
    // A click on status-bar panel 4 or 5.
    void StatusBarPanelClick(int panel);
    // The other menu items.
    void MnuErrorLog_Click();
    void MnuDLLDown_Click();
    void MnuHelp_Click();
    void MnuOnlineHelp_Click();
    void MnuAbout_Click();
    void MnuOptGeneral_Click();
    void MnuOptExtract_Click();
    void MnuFiltering_Click();
    // The user manual's start page, or empty when it is not installed.
    QString manualPath() const;

    ComponentCaller *componentCaller() const { return m_caller.get(); }
    ArchiveInspector *inspector() const { return m_inspector.get(); }
    // Opens URLs and files on the desktop; tests replace it.
    std::function<bool(const QUrl &)> openUrl;
    // What a list-file dialog is asked for, and the dialog that asks it.
    struct FileChoice {
        QString title, folder;
        QStringList filters;
        bool save = false;
    };
    static std::unique_ptr<QFileDialog> makeFileDialog(const FileChoice &choice, QWidget *parent);
    // Shows the dialog and returns the chosen file, empty when cancelled; tests replace it.
    std::function<QString(const FileChoice &)> chooseFile;

    // RunUi: callable from the run's thread; the window's own thread does the work.
    void showMessage(const QString &text, MessageIcon icon) override;
    bool askYesNo(const QString &text) override;
    void setStatus(int panel, const QString &text) override;
    QString askFolder(const QString &title) override;
    void loopStarted() override;
    void loopFinished() override;
    void progress(int number, int count, const QString &archive) override;
    void playSound(const QString &file) override;
    QString statusText(int panel) const;

    bool isRunning() const { return m_runThread != nullptr; }
    void Timer1_Timer();
    // Asks whether a component may replace an existing file (any thread).
    int askOverwrite(const QString &path);
    // Replaces the folder question (tests).
    std::function<QString(const QString &title)> chooseFolder;
    ProgressWindow *progressWindow() const { return m_progress; }

    // State other windows read.
    const QString MyPath;
    const LaunchMode launchMode;
    QString Slvo_MODE;
    QString OSVersion;
    bool IsListViewer = false;
    bool IsAdhesionMode = true;
    Availability availability;
    std::optional<qint32> UNZIP32_Status;

    ArchiveQueue &queue() { return m_queue; }
    QString windowTitleBase() const;

    // Set when the window is closed by the program itself at the end of a
    // DD-mode run: the shutdown steps that save settings are skipped.
    void endWithoutSaving();

signals:
    // The main window has closed: the program ends.
    void closed();
    // A batch run has ended and its entries have left the queue.
    void runFinished(int successCount);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildWidgets();
    void buildMenus();
    void applyCaptions();
    void shutDown();
    void emptyTempFolder();
    void reportAdded(const AddResult &result);
    Settings settings() const;

    ArchiveQueue m_queue;
    std::unique_ptr<ComponentCaller> m_caller;
    std::unique_ptr<ArchiveInspector> m_inspector;
    int m_scansRunning = 0;
    void finishRun(const RunOutcome &outcome);
    template <typename F> void onWindowThread(F f);
    template <typename F> void postToWindow(F f);
    // Status texts and progress from the run are shown at most every 40 ms: the
    // latest text of each panel wins, and painting never holds the run up.
    void scheduleFlush();
    void flushPending();
    std::mutex m_pendingMutex;
    QString m_pendingStatus[6];
    bool m_pendingSet[6] = {};
    bool m_flushScheduled = false;
    struct PendingProgress {
        int number, count;
        QString archive;
    };
    std::optional<PendingProgress> m_pendingProgress;
    std::unique_ptr<BatchRun> m_run;
    QThread *m_runThread = nullptr;
    qint64 m_runStartMs = 0;
    ProgressWindow *m_progress = nullptr;
    bool m_closeAfterRun = false;
    QMediaPlayer *m_player = nullptr;
    bool m_shutDownDone = false;
    bool m_saveOnClose = true;

public:
    // Controls, named as the rest of the program refers to them.
    QListView *List1 = nullptr;
    QComboBox *cmbTargetPlace = nullptr;
    QComboBox *cmbArcMethod = nullptr;
    QComboBox *cmbArcType = nullptr;
    QPushButton *Btn_Start = nullptr;
    QPushButton *Btn_Option = nullptr;
    QPushButton *Btn_Close = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    // The four pictures of the two toggle panels.
    QPixmap ImageList1[5];
    QLabel *panels[5] = {};
    QTimer *Timer1 = nullptr;

    QMenu *FileMenu = nullptr, *ToolMenu = nullptr, *OptionMenu = nullptr, *HelpMenu = nullptr;
    QAction *MnuModeExtract = nullptr, *MnuModeArchive = nullptr, *MnuFileMinusF1 = nullptr,
            *MnuStart = nullptr, *MnuFileLoadFileList = nullptr, *MnuFileSaveFileList = nullptr,
            *MnuFiltering = nullptr, *MnuSort = nullptr, *MnuQuit = nullptr, *MnuDLLDown = nullptr,
            *MnuErrorLog = nullptr, *MnuOptGeneral = nullptr, *MnuOptExtract = nullptr,
            *MnuOptArchive = nullptr, *MnuHelp = nullptr, *MnuOnlineHelp = nullptr,
            *MnuAbout = nullptr;
};

// Entries of the target drop-down.
QStringList targetPlaceEntries();

} // namespace salvo
