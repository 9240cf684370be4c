#pragma once
// Saving, loading and sorting the archive queue.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace salvo {

// The queue filter's saved copy of the queue in the program folder (see
// QueueFilter); deleted when the filter is released and at start-up.
inline constexpr auto kFilterBackupFile = "original.lst";
void discardFilterBackup(const QString &myPath);

// List files larger than this are refused: no real queue comes near it.
inline constexpr qint64 kMaxListFileBytes = 64 * 1024 * 1024;

// The file-dialog filters of list files, in order.
QStringList listFileFilters();

// A chosen name keeps ".txt" or ".csv" (in any case); anything else gets ".txt".
QString listFileNameWithExtension(const QString &name);

// Writes one entry per line, lines ended by CR LF: UTF-8, and a name that is
// not UTF-8 as its own bytes. The file is replaced atomically. False when it
// could not be written.
bool saveFileList(const QString &path, const QStringList &entries);
// The bytes saveFileList writes.
QByteArray fileListBytes(const QStringList &entries);

enum class LoadStatus { Ok, CannotOpen, TooLarge };

// Reads one entry per line, taken as it stands (an empty line is an empty
// entry); lines end with CR LF, LF or CR. A file that is not UTF-8 is read as
// CP932, except lines naming an existing file by bytes that are not UTF-8
// (as saveFileList writes them). NUL characters are dropped.
LoadStatus loadFileList(const QString &path, QStringList *entries);
// The entries of a list file's bytes, read as loadFileList reads them.
QStringList fileListEntries(QByteArray bytes);

// Sort keys of "SORT": 0 the full path, 1 the folder part, 2 the file name.
// The order is stable; texts compare by Unicode code points without regard to
// case. Any other key leaves the order as it is.
void sortQueueEntries(QStringList &entries, int key);

} // namespace salvo
