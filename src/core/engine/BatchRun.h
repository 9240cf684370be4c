#pragma once
// One batch run over the queue: the target of the run, the optional pre-scan
// with its run log, the extraction loop and the completion actions. It runs off
// the window's thread; everything it shows or asks goes through RunUi.
#include "archivers/ArchiveInspector.h"
#include "archivers/Availability.h"
#include "settings/Modes.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <set>

namespace salvo {

class ArchiveInspector;
class ComponentCaller;
struct ArchiveFormat;
class RunUi;

// Where the output of a run goes.
struct RunTarget {
    bool fixed = false;   // one folder for every archive
    QString folder;       // that folder
    int kind = 1;         // 1 beside each archive, 2 a fixed folder, 3 the desktop
    QString folderToOpen; // what the completion step may open
    bool cancelled = false;
};

struct RunOutcome {
    int successCount = 0;
    // Positions in the queue given to run() that the run used up (removed by
    // the pre-scan or processed by the loop); the caller removes these.
    std::set<int> consumed;
    bool stopped = false;
};

struct RunSetup {
    QString myPath;
    LaunchMode launchMode = LaunchMode::Normal;
    int targetPlaceIndex = 0; // the entry of the target drop-down (normal launch)
    ComponentCaller *caller = nullptr;
    ArchiveInspector *inspector = nullptr;
};

class BatchRun {
public:
    BatchRun(RunSetup setup, RunUi &ui);

    // The whole run over `queue`: target, pre-scan, loop, completion actions.
    RunOutcome run(const QStringList &queue);

    // Set from any thread: the run ends after the archive in hand.
    std::atomic<bool> stop{false};

    RunTarget chooseTarget(const QStringList &queue);
    // The folder an archive goes into; empty (and `error` set) when it cannot be made.
    QString outputFolderFor(const ArchiveFormat &archive, const RunTarget &target, int folderPerArchive, QString *error);

private:
    struct Item {
        QString path;
        int position;
        std::optional<ArchiveFormat> format; // once identified, carried from the pre-scan to the extraction
    };
    bool preScan(std::vector<Item> &items, const RunTarget &target, int *errors, RunOutcome &outcome);
    int extractionLoop(std::vector<Item> &items, RunTarget &target, RunOutcome &outcome);
    int extractOne(const ArchiveFormat &archive, const QString &outputDir, bool ignoreDirectories, int overwrite,
                   bool zipBy7z, bool errorSkip, bool *trueSuccess);
    void completion(int successCount, const RunTarget &target);
    const Availability &availability() const;

    RunSetup m_setup;
    RunUi &m_ui;
};

// Elapsed time as "hh:nn:ss".
QString elapsedText(qint64 milliseconds);

} // namespace salvo
