#pragma once
// What the content viewer does to the entries of the archive it shows, without
// any window: extracting one entry (to a chosen, usual, well-known or private
// temporary folder), deciding what may be opened after that, deleting an
// entry, and adding dropped files into a folder of the archive. Messages and
// status texts go through RunUi; the viewer and the tree dialog only ask and
// show.
#include "archivers/Availability.h"
#include "engine/RunUi.h"
#include "settings/Modes.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace salvo {

class ArchiveProbe;
class ComponentCaller;

// The commands of the viewer's popup menu that extract or open an entry.
enum class ViewerCommand {
    None,
    Open,               // to the private temporary folder, then open
    OpenAskFolder,      // to a folder asked for, then open
    OpenUsualFolder,    // to "AlwaysPath", then open
    ExtractAskFolder,
    ExtractUsualFolder,
    ExtractToDocuments, // the four template targets
    ExtractToDesktop,
    ExtractToSystem,
    ExtractToWindows,
};

// The command a double click runs, from "Action", "TargetPlace" and "Template"
// of the viewer's settings; None for every other combination.
ViewerCommand doubleClickCommand(int action, int targetPlace, const QString &templateText);

// The captions of the template targets, in menu order (documents, desktop,
// system, Windows), which "Template" names.
const QStringList &templateCaptions();
// The folder of a template target; empty for other commands.
QString templateFolder(ViewerCommand command);

bool opensAfterExtraction(ViewerCommand command);

// A file that a desktop opener would run rather than show: a program (ELF,
// Windows executables, any file with an executable bit), a script (a "#!"
// line or a script type or extension) or a desktop entry.
bool isRunnableFile(const QString &path);

// The private work folder of the program folder ("tmp", mode 0700), made when
// missing; empty when it cannot be made private (not ours, or a link).
QString privateWorkFolder(const QString &myPath);

// Where an opened entry is shown: the file itself, or its folder when the file
// could run (`message` says why).
struct OpenTarget {
    QString path; // empty: nothing to open
    bool folderInstead = false;
    QString message;
};

// The drop list "addlist.tmp" and the work list "addlist2.tmp" in the program
// folder, and the staging folder "ArcFiles".
inline constexpr auto kDropListFile = "addlist.tmp";
inline constexpr auto kWorkListFile = "addlist2.tmp";
inline constexpr auto kStagingFolder = "ArcFiles";

// The extensions whose archives take dropped files.
bool takesDroppedFiles(const QString &archive);

class EntryActions {
public:
    EntryActions(QString myPath, ComponentCaller &caller, ArchiveProbe &probe, RunUi &ui);

    struct Extracted {
        bool ok = false;
        QString folder; // where the entry went (with the archive's sub-folder)
        QString path;   // the extracted path by the name rule; empty when none can be made
    };
    // Extracts one entry into `folder` (a sub-folder named after the archive
    // when `subFolder`). The overwrite policy is the viewer's setting unless one
    // is given; "keep paths" is "MakeFolder4ListView". The result is the
    // component's own: a missing component or a failed extraction says so.
    Extracted extractEntry(const QString &archive, const QString &entry, QString folder, bool subFolder,
                           std::optional<OverwritePolicy> overwrite = std::nullopt);

    // After an extraction for opening: takes the executable bits off the file
    // and says what to hand to the desktop's opener.
    OpenTarget prepareOpen(const Extracted &extracted);

    // Deletes the entry (a folder with everything under it); true on success.
    bool deleteEntry(const QString &archive, const QString &entry);

    // Writes the dropped paths to the drop list, one quoted path a line.
    bool writeDropList(const QStringList &paths);
    // The number of lines of the drop list.
    int droppedFileCount() const;

    // Adds the files of the drop list into `targetFolder` of the archive ("/"
    // between levels, "" for the top). Reports the real count in status panel 1
    // ("<n>ファイル追加") or the failure ("ファイル追加失敗"); the staging
    // folder is removed afterwards whatever happened. True when the archive
    // took every file.
    bool addDroppedFiles(const QString &archive, const QString &targetFolder);

private:
    QString missingComponentText(Component component) const;

    QString m_myPath;
    ComponentCaller &m_caller;
    ArchiveProbe &m_probe;
    RunUi &m_ui;
};

} // namespace salvo
