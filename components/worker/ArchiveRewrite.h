#pragma once
// The pieces every archive writer shares: the temporary file that replaces
// the archive, buffered output into it, and the plan of a rewrite (which
// existing entries stay, which files come in).
#include "Operations.h"

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace salvo::arc {

// The original archive (read) and its replacement (written) side by side. The
// replacement is an unnamed file in the archive's folder when the file system
// allows it, so a process killed mid-write leaves nothing behind; it gets a
// name only for the instant before it is renamed over the archive.
//
// Two writers of one archive never lose each other's work: the archive is
// locked (an advisory lock on the file) from the moment it is read until its
// replacement is in place, and a writer that finds it locked waits for the
// other and then reads what that one wrote. Just before the rename the path
// must still name the very file that was read, unchanged (device, inode, size,
// modification and change time); an archive replaced or changed meanwhile by
// anyone else is left as it is, and so is the work of this writer.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    // Opens and locks the archive for reading and creates the replacement
    // beside it. `alive` is told while the lock is waited for, and while
    // long blocking calls run (it must be safe to call from another thread).
    int open(const std::string &archive, const std::string &tempPath, const AliveFn &alive, std::string *message);
    int sourceFd() const { return m_source; }
    int64_t sourceSize() const { return m_sourceStat.st_size; }
    int targetFd() const { return m_target; }
    const std::string &archivePath() const { return m_archive; }
    // A path that opens the file that was read, whatever its own path names now.
    std::string sourcePath() const { return "/proc/self/fd/" + std::to_string(m_source); }
    const AliveFn &alive() const { return m_alive; }

    // Makes the written file durable and puts it in the archive's place with
    // the archive's permissions and owner.
    int commit(std::string *message);
    // After commit: makes the new name durable in the archive's folder.
    void syncFolder();

    // How long a writer waits for another one that holds the archive.
    static constexpr int kLockWaitMs = 30000;

private:
    void discard();
    int openLocked(std::string *message);
    bool stillTheFileRead(std::string *why) const;

    std::string m_archive, m_tempPath;
    AliveFn m_alive;
    int m_source = -1, m_target = -1;
    bool m_named = false; // the replacement has a name on disk
    struct stat m_sourceStat {};
};

// Maps the errno of a failed write to a result code and a message.
int writeFailure(int error, std::string *message);

// Buffered sequential writing into the replacement, with the position kept.
class OutputStream {
public:
    explicit OutputStream(const ReplacementFile &file);
    ~OutputStream() = default;
    bool write(const void *data, size_t length);
    bool writeAt(int64_t offset, const void *data, size_t length); // into bytes already written
    // Copies bytes of another file (the original archive) to the end.
    bool copyFrom(int fd, int64_t offset, int64_t length);
    bool flush();
    // Drops everything written from `offset` on.
    bool truncate(int64_t offset);
    int64_t position() const { return m_position; }
    int error() const { return m_error; }

private:
    int m_fd;
    const AliveFn &m_alive;
    std::vector<unsigned char> m_buffer;
    size_t m_used = 0;
    int64_t m_position = 0;
    int m_error = 0;
};

// An entry the archive holds before the rewrite, as the listing shows it.
struct ExistingEntry {
    std::string name; // UTF-8, "/" between parts, no trailing "/"
    bool folder = false;
    int64_t mtime = 0; // seconds since the epoch; 0 when unknown
};

// A file or folder to put into the archive.
struct NewItem {
    std::string name; // UTF-8 name inside the archive, no trailing "/"
    std::string path; // on disk; empty for a folder entry made for the target folder
    bool folder = false;
    struct stat st {};
};

// One archive format's writer: reads the directory of the archive, then
// writes the archive anew keeping the entries marked and adding the items.
class FormatRewriter {
public:
    virtual ~FormatRewriter() = default;
    virtual int load(ReplacementFile &file, std::vector<ExistingEntry> *entries, std::string *message) = 0;
    // Names the format cannot store are refused before anything is written.
    virtual int accepts(const NewItem &, std::string *) { return 0; }
    virtual int write(ReplacementFile &file, const std::vector<bool> &keep, const std::vector<NewItem> &items,
                      const AliveFn &alive, std::string *message) = 0;
    // Whether the format stores entries for folders of its own accord.
    virtual bool storesFolders() const { return true; }
};

std::unique_ptr<FormatRewriter> makeZipRewriter(bool noFolderEntries);
std::unique_ptr<FormatRewriter> makeLzhRewriter();
std::unique_ptr<FormatRewriter> makeSevenZipRewriter(bool solid);

} // namespace salvo::arc
