#pragma once
// File paths exactly as the file system holds them. Linux names are bytes; most
// are UTF-8, but names left by Japanese tools are often CP932 and not valid
// UTF-8. Qt's own conversion turns such bytes into U+FFFD and can then no longer
// reach the file, so paths that come from the system (command line, folder
// scans, list files, the hand-off) go through the conversion below instead:
// every byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF, and converting back gives the same bytes again. Paths that
// hold such bytes are opened, listed and removed through the functions here.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace salvo {

// Bytes from the system to a path text, and back: localBytesOfPath(
// pathFromLocalBytes(b)) == b for every byte string without NUL.
QString pathFromLocalBytes(const QByteArray &bytes);
QByteArray localBytesOfPath(const QString &path);

// Whether the path holds bytes that are not valid UTF-8.
bool hasRawBytes(const QString &path);

// The path as a person should read it: a name that is not UTF-8 is shown as
// CP932 (name by name); everything else as it stands.
QString displayPath(const QString &path);

// The local file a "file:" address names, with the bytes its percent-escapes
// stand for (a dropped name that is not UTF-8 stays escaped in the address);
// empty when the address is not a local file.
QString localPathFromUrl(const QUrl &url);

// The path made absolute against the current folder (links are not resolved,
// "." and ".." are folded).
QString absoluteLocalPath(const QString &path);

// The path with every link resolved; empty when it does not exist.
QString canonicalLocalPath(const QString &path);

enum class LocalFileKind { Missing, Regular, Directory, Other };
// What the path names, following links (a dangling link is Missing; a FIFO,
// socket or device is Other).
LocalFileKind localFileKind(const QString &path);
bool localPathExists(const QString &path);
bool removeLocalFile(const QString &path);
// Makes one folder (the parent must exist).
bool makeLocalFolder(const QString &path);
// The path with every link in its existing part resolved (realpath), the
// parts that do not exist yet kept as they are; the path itself when nothing
// of it exists.
QString resolvedLocalPath(const QString &path);
// Whether the path's last part is a symbolic link (not followed).
bool isLocalSymlink(const QString &path);
// Removes a folder only while it is empty (never a link, never anything in it).
bool removeEmptyLocalFolder(const QString &path);

// The entries of a folder ("." and ".." left out), in the order the file system
// lists them, each with what it names (links followed). False when the folder
// cannot be read.
struct LocalFolderEntry {
    QString name;
    LocalFileKind kind;
};
bool listLocalFolder(const QString &folder, QList<LocalFolderEntry> *entries);

// Removes everything inside `folder` without ever following a symbolic link:
// links are removed as links, sub-folders with all they hold (even without
// write permission). When `folder` itself is a link, the link is removed and
// nothing behind it is touched. Errors are skipped.
void emptyFolderWithoutFollowingLinks(const QString &folder);

} // namespace salvo
