#pragma once
// The archive queue: the ordered paths the next batch run works through, as a
// list model that the main window's list shows directly. The same path may
// stand several times; nothing is filtered here.
#include "platform/LocalPath.h"

#include <QAbstractListModel>
#include <QSet>
#include <QString>
#include <QStringList>

namespace salvo {

struct AddResult {
    int added = 0;    // files appended
    int skipped = 0;  // paths that did not exist or could not be read
    int notFiles = 0; // FIFOs, sockets, devices: never archives, never queued
    // The paths behind `skipped` and `notFiles`, to say what was left out.
    QStringList skippedPaths, notFilePaths;
    AddResult &operator+=(const AddResult &other)
    {
        added += other.added;
        skipped += other.skipped;
        notFiles += other.notFiles;
        skippedPaths += other.skippedPaths;
        notFilePaths += other.notFilePaths;
        return *this;
    }
};

// What the queue makes of a path (links followed). This is the one place that
// decides what may enter the queue: only regular files, and the regular files
// below folders. Nothing else is opened to find out, so a FIFO or a device
// never holds anything up.
enum class QueueIntake { File, Folder, Missing, NotAFile };
QueueIntake queueIntakeKind(const QString &path);
QueueIntake queueIntakeKind(LocalFileKind kind);

class ArchiveQueue : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    const QStringList &entries() const { return m_entries; }
    int size() const { return static_cast<int>(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    const QString &at(int i) const { return m_entries.at(i); }

    void clear();
    // Appends the paths; a volume of a split archive is appended as its set
    // (the first volume), once.
    void append(const QStringList &paths);
    void setEntries(const QStringList &paths);
    // Removes the rows given (any order, duplicates allowed). Many scattered
    // rows are removed in one model reset.
    void removeRowsAt(QList<int> rows);
    static constexpr qsizetype kMaxRemovalNotices = 64;

    // Adds the paths of a command-line style text: a path in double quotes may
    // hold blanks, an unquoted path ends at the first blank, and a remainder of
    // fewer than 3 characters is dropped. Folders are scanned (see addPath).
    AddResult addArchiveList(const QString &fileList);

    // Adds each path of a list as addPath does; a file the list names more
    // than once (in other spellings, through links, or inside a folder it
    // also names) is queued once.
    AddResult addPaths(const QStringList &paths);

    // Adds one path: a folder is scanned recursively, depth first, in the order
    // the file system lists it, each file appended as its absolute path; a file
    // is appended as its absolute path; a path that does not exist is skipped,
    // and so is anything that is not a regular file. Names that are not UTF-8
    // are kept byte for byte (see platform/LocalPath.h); the list shows them
    // as CP932.
    AddResult addPath(const QString &path);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QStringList m_entries;
};

// Splits a command-line style file list into its paths, as addArchiveList does.
QStringList splitFileList(const QString &fileList);

// The files below a folder (see ArchiveQueue::addPath), or the path itself.
AddResult collectPath(const QString &path, QStringList *found);
// The files of a list of paths, as addPaths queues them: each file once,
// known by its device and inode, under the first name the list gives it.
AddResult collectPaths(const QStringList &paths, QStringList *found);

// Writes what an add left out to the run log "Log.txt", one line per path
// with its reason, so that a list given on the command line or handed over
// says what became of each of its paths.
void logLeftOut(const QString &myPath, const AddResult &result);

// Whether activating a queued file shows its archive information: its
// extension is one of the archive extensions the queue knows.
bool isViewableArchive(const QString &path);

} // namespace salvo
