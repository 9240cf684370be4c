#pragma once
// One batch run over the queue: the target of the run, the optional pre-scan
// with its run log, the extraction loop and the completion actions. It runs off
// the window's thread; everything it shows or asks goes through RunUi.
#include "archivers/ArchiveProbe.h"
#include "archivers/Availability.h"
#include "engine/OutputFolders.h"
#include "settings/Modes.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <set>

namespace salvo {

class ComponentCaller;
class RunLog;
class RunUi;

struct RunOutcome {
    int successCount = 0;
    // Archives the loop worked on without extracting them.
    int failureCount = 0;
    // Positions in the queue given to run() of the archives extracted; each was
    // also reported through RunUi::archiveExtracted when it was done. Failed
    // archives and those not reached stay in the queue.
    std::set<int> extracted;
    bool stopped = false;
    // The target was chosen, so the pre-scan or the loop ran (a cancelled
    // folder question ends the run before either).
    bool began = false;
};

struct RunSetup {
    QString myPath;
    LaunchMode launchMode = LaunchMode::Normal;
    TargetPlace targetPlace = TargetPlace::BesideArchive; // the target drop-down's entry (normal launch)
    ComponentCaller *caller = nullptr;
    ArchiveProbe *probe = nullptr;
};

class BatchRun {
public:
    BatchRun(RunSetup setup, RunUi &ui);
    ~BatchRun();

    // The whole run over `queue`: target, pre-scan, loop, completion actions.
    RunOutcome run(const QStringList &queue);

    // Set from any thread: the run stops now. The component call in hand is
    // cancelled (the component removes what it wrote), its archive stays
    // queued, and the texts and the end notice say that the run was stopped.
    std::atomic<bool> stop{false};
    // Set from any thread when the program is ending: as `stop`, and nothing
    // of the completion (sound, mail, folder, notice) follows. Set `stop` too.
    std::atomic<bool> abandon{false};

private:
    // The settings of the extraction loop, read once when it begins.
    struct LoopSettings {
        FolderNameMode folderMode;
        bool ignoreDirectories, deleteAfter, errorSkip, zipBy7z, useUnace32;
        OverwritePolicy overwrite;
    };
    struct Item {
        QString path;
        int position;
        std::optional<ArchiveFormat> format; // once identified, carried from the pre-scan to the extraction
    };
    bool preScan(std::vector<Item> &items, const RunTarget &target, int *errors);
    int extractionLoop(std::vector<Item> &items, RunTarget &target, RunOutcome &outcome);
    int extractOne(const ArchiveFormat &archive, const QString &outputDir, const LoopSettings &settings,
                   bool *trueSuccess, QString *reason);
    // What a console extractor must leave in `outputDir`: the archive's listed
    // entries; empty when the listing cannot be had.
    QStringList expectedConsoleOutput(const ArchiveFormat &archive, const QString &outputDir, bool flat);
    void completion(int successCount, int failureCount, bool stopped, const RunTarget &target);
    // The end notice with failures: their count, and the offer to open the log.
    void offerLog(const QString &doneText, int failureCount);
    // The run's block in "Log.txt", begun when the first line is written.
    RunLog &log();
    void logFailure(const QString &archive, const QString &reason);
    const Availability &availability() const;

    RunSetup m_setup;
    RunUi &m_ui;
    std::unique_ptr<RunLog> m_log;
};

// Elapsed time as "hh:nn:ss".
QString elapsedText(qint64 milliseconds);
// The time a run still needs, from the time it took so far for the bytes it
// has done of all: "残り 約3分20秒"; a wait text while too little is known.
QString remainingText(qint64 elapsedMs, qint64 done, qint64 total);
// A byte count as people read it: "950 B", "12.3 KB", "4.5 MB", "1.2 GB".
QString byteCountText(qint64 bytes);

} // namespace salvo
