#pragma once
// The command lines of the content viewer's work on single entries: extracting
// one entry, deleting one, and adding dropped files into a folder of the
// archive. Each is chosen by the archive's extension (a self-extractor by the
// kind of archive found inside it) and built from the tables in the .cpp file;
// nothing here calls a component.
#include "archivers/Availability.h"
#include "settings/Modes.h"

#include <QString>

namespace salvo {

enum class EntryCallKind {
    Missing,     // the component that serves the format is not installed (`component` names it)
    Unsupported, // no row for the extension
    UnsafeName,  // the entry's name cannot be passed on a command line (a double quote in it)
    Component,   // the component's main entry with `commandLine`
    Console,     // a console program started with `commandLine` and waited for
    AceV2,       // the second-generation ACE extraction (archive, entry, folder)
};

struct EntryCall {
    EntryCallKind kind = EntryCallKind::Unsupported;
    Component component = Component::Count;
    const char *prefix = "";
    QString commandLine;
    // A console extraction's success: this file exists afterwards.
    QString expectedFile;
};

struct EntryExtraction {
    QString archive; // full path
    QString entry;   // the name as listed
    QString folder;  // where it goes, without a trailing "/"
    bool keepPaths = true;
    OverwritePolicy overwrite = OverwritePolicy::Overwrite;
    bool use7Zip = false;
    bool useUnace32 = false;
    QString sfxKind; // for ".exe": the format id found inside ("" when none)
    QString contentKind; // the format id the bytes showed where the extension did not decide ("" otherwise)
};

EntryCall entryExtractionCall(const EntryExtraction &request, const Availability &availability);

// Deletes one entry (a folder name takes everything under it).
EntryCall entryDeletionCall(const QString &archive, const QString &entry, bool use7Zip,
                            const Availability &availability);

struct FileAddition {
    QString archive;
    QString targetFolder;  // folder inside the archive, "/" between levels; "" for the top
    QString baseFolder;    // folder the work list's names are relative to, without a trailing "/"
    QString listFile;      // the work list: one quoted name a line
    QString stagingFolder; // holds copies of the files under the target folder, without a trailing "/"
    bool use7Zip = false;
};

// Whether adding into `targetFolder` goes through the staging folder (a target
// folder is given and the format is neither LZH, which names the folder on its
// command line, nor RK, which has no folders).
bool additionUsesStaging(const QString &archive, const QString &targetFolder);
EntryCall fileAdditionCall(const FileAddition &request, const Availability &availability);

// The path an extracted entry has on disk: the folder and the entry's name
// (only its last part without keepPaths), "\" read as a separator. Empty when
// the name is absolute, names a drive, holds "..", or names nothing (a folder
// entry without keepPaths): such an entry is never written outside the
// folder, so no path outside it is made.
QString extractedEntryPath(const QString &folder, const QString &entry, bool keepPaths);

} // namespace salvo
