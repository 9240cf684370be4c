#pragma once
// Runs a batch run for the main window: starts it on a thread of its own, stops
// it, keeps the elapsed time, shows the progress window of a DD-mode run and
// answers what the run shows and asks (RunUi) on the window's thread.
#include "engine/BatchRun.h"
#include "engine/RunUi.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;
class QTimer;
class QWidget;

namespace salvo {

class ArchiveProbe;
class ComponentCaller;
class ProgressWindow;
class RunProgressView;
class StatusPanels;

class RunControl : public QObject, public RunUi {
    Q_OBJECT
public:
    RunControl(QString myPath, LaunchMode launchMode, StatusPanels &status, QWidget *window);
    ~RunControl() override;

    void setComponents(ComponentCaller *caller, ArchiveProbe *probe);

    bool isRunning() const { return m_thread != nullptr; }
    // Starts a run over `queue` (a snapshot; the queue may grow meanwhile).
    // finished() follows on the window's thread.
    void start(const QStringList &queue, TargetPlace place);
    // The run stops now: the archive in hand is given up (what it wrote is
    // removed) and stays queued; finished() follows.
    void stop();
    // The program is ending (a termination signal): the archive in hand is given
    // up at once (what it wrote is removed), questions get their safe answer
    // without a window, and nothing of the completion follows. finished() comes
    // as after any run.
    void abandon();
    // For the destruction of the window under a run: abandons it and waits for
    // its thread; finished() is not emitted.
    void stopAndJoin();

    // The elapsed-time display, ticking once a second during the loop (`Timer1`).
    QTimer *elapsedTimer() const { return m_timer; }
    ProgressWindow *progressWindow() const { return m_progress; }
    // Where the main window shows how far a run has come; shown during runs only.
    void setProgressView(RunProgressView *view);
    // Asks whether a component may replace an existing file (any thread).
    int askOverwrite(const QString &path);
    // The folder question; tests replace it.
    std::function<QString(const QString &title)> chooseFolder;

    // RunUi: callable from the run's thread; the window's thread does the work.
    void showMessage(const QString &text, MessageIcon icon) override;
    bool askYesNo(const QString &text) override;
    void setStatus(int panel, const QString &text) override;
    QString askFolder(const QString &title) override;
    bool askPassword(const QString &archive, bool retry, QString *password) override;
    void loopStarted() override;
    void loopFinished() override;
    // In DD mode no window shows the run: the desktop's notification tells how it went.
    void loopSummary(int extracted, int failed, bool stopped) override;
    void progress(int number, int count, const QString &archive) override;
    void runProgress(const RunProgress &progress) override;
    // Started in a helper process of its own (salvo-sound-player), never played
    // in the program: a broken media back-end cannot take the program down.
    void playSound(const QString &file) override;
    void archiveExtracted(int position) override;

    // The helper that plays sounds; tests replace it. Returns whether it started.
    static std::function<bool(const QString &file)> &soundStarter();

signals:
    // An archive of the run's queue (its position in the snapshot given to
    // start) has been extracted.
    void extracted(int position);
    // The run has ended; `outcome` says which queue entries it extracted.
    void finished(const salvo::RunOutcome &outcome);

private:
    void finish(const RunOutcome &outcome);
    void showElapsedTime();
    QWidget *dialogParent() const;
    template <typename F> void onWindowThread(F f);
    template <typename F> void postToWindow(F f);
    // Status texts and progress from the run are shown at most every 40 ms: the
    // latest text of each panel wins, and painting never holds the run up.
    void scheduleFlush();
    void flushPending();

    const QString m_myPath;
    const LaunchMode m_launchMode;
    StatusPanels &m_status;
    QWidget *m_window;
    ComponentCaller *m_caller = nullptr;
    ArchiveProbe *m_probe = nullptr;

    std::unique_ptr<BatchRun> m_run;
    QThread *m_thread = nullptr;
    qint64 m_startMs = 0;
    QTimer *m_timer = nullptr;
    ProgressWindow *m_progress = nullptr;
    std::atomic<bool> m_shuttingDown{false};

    struct PendingProgress {
        int number, count;
        QString archive;
    };
    std::mutex m_pendingMutex;
    QString m_pendingStatus[6];
    bool m_pendingSet[6] = {};
    bool m_flushScheduled = false;
    std::optional<PendingProgress> m_pendingProgress;
    std::optional<RunProgress> m_pendingRunProgress;
    RunProgressView *m_view = nullptr;
};

} // namespace salvo
