#pragma once
// Writes an archive's entries into a private staging folder inside the output
// folder, then moves them into place. Every path is walked one part at a time
// with O_NOFOLLOW, so no write ever passes through a symbolic link, and nothing
// is written outside the output folder.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace salvo::arc {

enum class OverwritePolicy : uint32_t;

struct TreeError {
    int code = 0;
    std::string text;
};

class FileWriter {
public:
    explicit FileWriter(int fd = -1) : m_fd(fd) {}
    FileWriter(FileWriter &&other) noexcept : m_fd(other.m_fd), m_end(other.m_end) { other.m_fd = -1; }
    ~FileWriter();
    bool ok() const { return m_fd >= 0; }
    bool write(const void *data, size_t length, int64_t offset, TreeError *err);
    // Sets the final size (sparse tails), permissions and time, and closes.
    bool finish(int64_t size, mode_t mode, time_t mtime, long nsec, TreeError *err);

private:
    int m_fd;
    int64_t m_end = 0;
};

struct MoveOutcome {
    int kept = 0;          // existing files left in place
    bool cancelled = false;
    bool failed = false;
    int failCode = 0;
    std::string message;
};

class SafeTree {
public:
    // Makes the output folder when missing and a staging folder inside it. An
    // empty output folder is written directly: on failure everything in it is
    // removed again, which leaves it as it was, without the staging folder's cost.
    static std::unique_ptr<SafeTree> createStaging(const std::string &outputDir, std::string *error);
    bool direct() const { return m_stagingName.empty(); }
    ~SafeTree();

    bool makeFolder(const std::vector<std::string> &parts, mode_t mode, TreeError *err);
    FileWriter createFile(const std::vector<std::string> &parts, TreeError *err);
    // A symbolic link whose target, read from the link's own folder, stays inside.
    bool makeSymlink(const std::vector<std::string> &parts, const std::string &target, TreeError *err);
    // A hard link to a file extracted before it.
    bool makeHardLink(const std::vector<std::string> &parts, const std::vector<std::string> &target,
                      TreeError *err);

    // Moves everything staged into the output folder. An existing file is
    // replaced (policy Force), asked about (Ask) or kept (Keep).
    MoveOutcome moveInto(OverwritePolicy policy, const std::function<int(const std::string &)> &ask);
    // Removes whatever is left of the staging folder (in direct mode: everything
    // written, after a failure).
    void discard();

private:
    SafeTree(std::string outputDir, int outFd, std::string stagingName, int stagingFd);
    int openParent(const std::vector<std::string> &parts, bool create, TreeError *err);
    void merge(int srcDir, int dstDir, const std::string &relative, OverwritePolicy policy,
               const std::function<int(const std::string &)> &ask, MoveOutcome *out);

    std::string m_outputDir;
    int m_outFd;
    std::string m_stagingName;
    int m_stagingFd;
    mode_t m_umask;
    bool m_yesToAll = false, m_noToAll = false;
};

} // namespace salvo::arc
