#pragma once
// Writes an archive's entries into a private staging folder inside the output
// folder, then moves them into place. Every path is walked one part at a time
// with O_NOFOLLOW, so no write ever passes through a symbolic link, nothing is
// written outside the output folder, and no symbolic link is left that leads
// out of it.
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
    // Sets permissions and time, and closes. `sparseSize` (or -1) is the size
    // of a sparse entry whose data ends in a hole: the file grows to it.
    bool finish(int64_t sparseSize, mode_t mode, time_t mtime, long nsec, TreeError *err);

private:
    int m_fd;
    int64_t m_end = 0;
};

struct MoveOutcome {
    int kept = 0;          // existing files left in place
    bool cancelled = false;
    bool failed = false;
    int failCode = 0;
    // After a cancel or a failure: what had been moved into place could not
    // all be taken back (the output is partial).
    bool partial = false;
    std::string message;
};

using AskFn = std::function<int(const std::string &path)>;

class SafeTree {
public:
    // Makes the output folder when missing and a staging folder inside it. An
    // empty output folder is written directly: on failure everything in it is
    // removed again, which leaves it as it was, without the staging folder's cost.
    static std::unique_ptr<SafeTree> createStaging(const std::string &outputDir, std::string *error);
    // The staging folder another decoder made for the same extraction ("":
    // the output folder itself), to write a share of the entries into; the
    // tree that made it moves them into place or removes them.
    static std::unique_ptr<SafeTree> join(const std::string &outputDir, const std::string &stagingName,
                                          std::string *error);
    bool direct() const { return m_stagingName.empty(); }
    // The staging folder's name in the output folder; "" when writing directly.
    const std::string &stagingName() const { return m_stagingName; }
    ~SafeTree();

    // What happens to a file that is already there, asked once per name; the
    // answers "yes to all" and "no to all" hold for the rest of the extraction.
    void setOverwriteRule(OverwritePolicy policy, AskFn ask);
    // A file of the archive being read (each volume of a split one): it is
    // never replaced, whatever its name.
    void protect(dev_t device, ino_t inode);

    bool makeFolder(const std::vector<std::string> &parts, mode_t mode, TreeError *err);
    FileWriter createFile(const std::vector<std::string> &parts, TreeError *err);
    // A symbolic link whose target, followed from the link's own folder through
    // the links made before it, stays inside.
    bool makeSymlink(const std::vector<std::string> &parts, const std::string &target, TreeError *err);
    // A hard link to a file extracted before it.
    bool makeHardLink(const std::vector<std::string> &parts, const std::vector<std::string> &target,
                      TreeError *err);

    // True when this extraction already wrote something at `parts`.
    bool holds(const std::vector<std::string> &parts);
    // Whether a file already there may be replaced: a SALVO_ANSWER_*.
    int decide(const std::string &relative);

    // Whether `target`, read from the folder of a link at `parts` and followed
    // through the links in the tree, stays inside it.
    bool staysInside(const std::vector<std::string> &parts, const std::string &target);
    // The same, counting ".." in the text alone.
    static bool staysInsideByText(const std::vector<std::string> &parts, const std::string &target);
    // Every link made is checked again once all are there (a later link can
    // change where an earlier one leads); false and the first offender if not.
    bool linksStayInside(std::string *offender);

    // Moves everything staged into the output folder and removes the staging
    // folder. An existing file is replaced, asked about or kept by the rule.
    // A cancel at a question, or a failure, takes back what the move had put
    // in place: new entries go, replaced files come back as they were.
    MoveOutcome moveInto();
    // After a failure: removes whatever was written, and the folders made for it.
    void discard();

private:
    SafeTree(std::string outputDir, int outFd, std::string stagingName, int stagingFd);
    int openParent(const std::vector<std::string> &parts, bool create, TreeError *err);
    int openFolder(int root, const std::vector<std::string> &parts, size_t count);
    bool linkAt(const std::vector<std::string> &path, std::string *target);
    bool findProtected(int srcDir, int dstDir, const std::string &relative, std::string *found);
    void merge(int srcDir, int dstDir, const std::string &relative, MoveOutcome *out);
    bool takeBack();

    std::string m_outputDir;
    int m_outFd;
    std::string m_stagingName;
    int m_stagingFd;
    mode_t m_umask;
    std::vector<std::string> m_createdFolders; // made for the output folder, outermost first
    std::vector<std::vector<std::string>> m_links;
    OverwritePolicy m_policy;
    AskFn m_ask;
    bool m_yesToAll = false, m_noToAll = false;
    bool m_protected = false;
    std::vector<std::pair<dev_t, ino_t>> m_protectedFiles;
    // What the move put in place, in order: the entry's path, what it is, and
    // whether it was exchanged with an entry that was there (which then waits
    // in the staging folder) or whether that entry is lost.
    struct Moved {
        std::string relative;
        dev_t device;
        ino_t inode;
        enum { New, Exchanged, Replaced } how;
    };
    std::vector<Moved> m_moved;
};

} // namespace salvo::arc
