#pragma once
// Plain files as the program meets them: a settings file is read only when it
// is a regular file (a FIFO would block a reader for good, a device never
// ends), and a file is known again by what the file system says about it, not
// by its name alone. Which paths may enter the queue is decided in one place,
// the queue's intake check.
#include <QByteArray>
#include <QString>

#include <optional>

namespace salvo {

// What identifies one file on disk at one moment: the same device and inode,
// and neither its size, its modification time nor its change time changed
// since. The change time is the one a user cannot set back: a file rewritten
// in place with its size and modification time put back is still told apart.
struct FileIdentity {
    quint64 device = 0, inode = 0;
    qint64 size = 0, modifiedNs = 0, changedNs = 0;
    bool operator==(const FileIdentity &) const = default;
};

// The identity of the regular file at `path` (links followed); nothing when
// there is none.
std::optional<FileIdentity> regularFileIdentity(const QString &path);

enum class ReadStatus {
    Ok,       // `bytes` holds the whole file
    Missing,  // nothing at the path
    Unusable, // there is something, but it is not a regular file, cannot be read or is too large
};

// Reads a whole regular file of at most `maxSize` bytes without ever blocking
// on what is not a regular file.
ReadStatus readRegularFile(const QString &path, qint64 maxSize, QByteArray *bytes);

} // namespace salvo
