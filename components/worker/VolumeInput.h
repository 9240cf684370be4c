#pragma once
// The bytes of an archive: one file, or the volumes of a split archive read as
// one stream, one after the other (a split 7z, zip or "name.001" set is its
// archive cut in pieces; libarchive reads the volumes of a RAR set from such a
// stream too). Only regular files are opened, each once, and kept open.
#include <archive.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace salvo::arc {

// Files the decoder was handed already open for the request it serves, by the
// path each stands for: they are read instead of opening that path, so that
// every reader of one request reads the very file the component opened.
void passFiles(std::vector<std::pair<std::string, int>> files);
// Forgets (and closes) the files handed over.
void dropPassedFiles();

class VolumeInput {
public:
    struct Volume {
        std::string path;
        int fd = -1;
        struct stat st {};
        int64_t offset = 0; // where it begins in the stream
    };

    VolumeInput() = default;
    ~VolumeInput();
    VolumeInput(const VolumeInput &) = delete;
    VolumeInput &operator=(const VolumeInput &) = delete;

    // Opens the volumes in order; SALVO_OK, or a failure code and its message.
    int open(const std::vector<std::string> &paths, std::string *message);

    int64_t size() const { return m_tailFrom >= 0 ? m_tailFrom + static_cast<int64_t>(m_tail.size()) : m_size; }
    // From `from` on, the stream reads `tail` instead of the volumes' bytes
    // (a split ZIP read as one file: see ZipCentralDirectory::unsplitTail).
    void replaceTail(int64_t from, std::string tail);
    const std::vector<Volume> &volumes() const { return m_volumes; }
    // Reads up to `n` bytes at `pos`: the count, 0 at the end, -1 on a failure.
    ssize_t readAt(int64_t pos, void *buffer, size_t n) const;
    // Exactly `n` bytes at `pos`, or false.
    bool readFully(int64_t pos, void *buffer, size_t n) const;

    // A reading position of its own, for one reader of the stream.
    class Cursor {
    public:
        explicit Cursor(const VolumeInput &input) : m_input(input) {}
        ssize_t read(void *buffer, size_t n);
        void rewind() { m_pos = 0; }
        int64_t position() const { return m_pos; }
        // Opens `a` on this cursor (reading, skipping and seeking).
        int openArchive(archive *a);

    private:
        static la_ssize_t readBlock(archive *, void *self, const void **buffer);
        static la_int64_t skip(archive *, void *self, la_int64_t request);
        static la_int64_t seek(archive *, void *self, la_int64_t offset, int whence);
        const VolumeInput &m_input;
        int64_t m_pos = 0;
        // Read buffer: never larger than the input, and left uninitialised,
        // so that opening a small archive touches few fresh pages.
        std::unique_ptr<char[]> m_block;
        size_t m_blockSize = 0;
    };

private:
    std::vector<Volume> m_volumes;
    int64_t m_size = 0;
    int64_t m_tailFrom = -1;
    std::string m_tail;
};

} // namespace salvo::arc
