#pragma once
// Where the output of a batch run goes: once per run the target (one fixed
// folder, or beside each archive), once per archive the folder handed to the
// component (with or without a folder named after the archive), and the free
// space of the target for the pre-scan.
#include "settings/Modes.h"

#include <QString>
#include <QStringList>

namespace salvo {

class ArchiveProbe;
class RunUi;
class Settings;
struct ArchiveFormat;

enum class TargetKind { BesideArchive, FixedFolder, Desktop };

struct RunTarget {
    bool fixed = false;   // one folder for every archive
    QString folder;       // that folder
    TargetKind kind = TargetKind::BesideArchive;
    QString folderToOpen; // what the completion step may open
    bool cancelled = false;
    // Why the run cannot go on (a fixed folder that is empty or relative); the
    // run is then cancelled before anything is extracted.
    QString error;
};

// The target of a run, chosen before anything else: by the target drop-down
// (`place`) in a normal launch, by "ExtractMode" in DD mode. AskEachRun asks
// `ui` for the folder; no answer cancels the run. A fixed folder must be an
// absolute path: an empty or relative one would put the output wherever the
// program happens to run, so it cancels the run with `error` set.
RunTarget chooseRunTarget(const Settings &settings, LaunchMode launchMode, TargetPlace place,
                          const QStringList &queue, RunUi &ui);

// The folder an archive goes into; empty (and `error` set) when it cannot be
// made. Automatic asks the probe whether the entries lie under one top
// folder; a folder named after the archive (see archiveFolderName) is made one
// level deep only, and `made` tells whether this call made it (so that a
// failed extraction can take it away again while it is empty). A symbolic
// link in the place of that folder is never followed: the archive fails.
QString outputFolderFor(const ArchiveFormat &archive, const RunTarget &target, FolderNameMode mode,
                        ArchiveProbe &probe, QString *error, bool *made = nullptr);

// The name of the folder made for an archive: its file name without the last
// extension. A name that would be empty, "." or ".." (an archive named
// ".zip", "..zip" or "...zip") gets "_" added ("_", "._", ".._"), so that the
// folder is always one new level below the target.
QString archiveFolderName(const QString &archivePath);

// Bytes available to the user on the file system that holds `folder`, or that
// will hold it once made; -1 when unknown.
qint64 availableBytes(const QString &folder);

// The text before the last "/" of a path; empty when it has none.
QString folderPart(const QString &path);

} // namespace salvo
