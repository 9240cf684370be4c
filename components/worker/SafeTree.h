#pragma once
// Writes an archive's entries into a private staging folder inside the output
// folder, then moves them into place. Every path is walked one part at a time
// with O_NOFOLLOW, so no write ever passes through a symbolic link; nothing is
// written outside the output folder, no file is ever seen under its final name
// before it is whole, and no symbolic link is left that leads out of it.
#include "OutputRoot.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
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
    // After a failure: what had been moved into place could not all be taken
    // back (the output is partial).
    bool partial = false;
    std::string message;
};

using AskFn = std::function<int(const std::string &path)>;

// What lies at a path of a tree: the link rule needs no more. A foreign link
// is one this extraction did not make (the output folder held it): nothing
// checked where it leads.
enum class Node { Missing, Folder, Link, ForeignLink, Other };

// Whether a symbolic link at `parts` (its folders real folders) whose text is
// `target` leads inside the tree now and whatever is added to it later: the
// target is relative, and each ".." in it steps back over a real folder that
// `nodeAt` shows on the way, never over a link or a name that is not there
// (what a link or a missing name stands for can change later, a real folder
// in the output folder is never replaced). Links further on in the target
// lead inside by this same rule, checked for each of them.
bool linkStaysInside(const std::vector<std::string> &parts, const std::string &target,
                     const std::function<Node(const std::vector<std::string> &)> &nodeAt);

class SafeTree {
public:
    // The output folder (see OutputRoot::create) with a staging folder of its own.
    static std::unique_ptr<SafeTree> create(const std::string &outputDir, std::string *error);
    // The output and staging folders another decoder made for the same
    // extraction, to write a share of the entries into; the tree that made
    // them moves everything into place or removes it.
    static std::unique_ptr<SafeTree> adopt(const std::string &outputDir, UniqueFd output, UniqueFd staging);
    ~SafeTree();

    const OutputRoot &root() const { return *m_root; }

    // What happens to a file that is already there, asked once per name; the
    // answers "yes to all" and "no to all" hold for the rest of the extraction.
    void setOverwriteRule(OverwritePolicy policy, AskFn ask);
    // A file of the archive being read (each volume of a split one): it is
    // never replaced, whatever its name.
    void protect(dev_t device, ino_t inode);

    bool makeFolder(const std::vector<std::string> &parts, mode_t mode, TreeError *err);
    // A new file; `parts` already written by this extraction is replaced
    // (a name written twice), unless that could be two names as stored.
    FileWriter createFile(const std::vector<std::string> &parts, TreeError *err);
    // A whole file another program wrote in a private folder of this
    // extraction (`fromFolder`, `fromName`), put under `parts` by the rules of
    // createFile, with the permissions FileWriter::finish gives. Only a
    // regular file with no other name is taken.
    bool adoptFile(const std::vector<std::string> &parts, int fromFolder, const std::string &fromName, mode_t mode,
                   TreeError *err);
    // A symbolic link whose text alone stays inside; where it really leads is
    // checked once everything is written (see moveInto).
    bool makeSymlink(const std::vector<std::string> &parts, const std::string &target, TreeError *err);
    // A hard link to a file extracted before it.
    bool makeHardLink(const std::vector<std::string> &parts, const std::vector<std::string> &target,
                      TreeError *err);
    size_t linkCount() const { return m_links.size(); }

    // True when this extraction already wrote something at `parts`.
    bool holds(const std::vector<std::string> &parts);
    // Whether a file already there may be replaced: a SALVO_ANSWER_*.
    int decide(const std::string &relative);

    // Whether a link at `parts` leads inside in the tree as written so far
    // (what was staged hides what the output folder held).
    bool staysInside(const std::vector<std::string> &parts, const std::string &target);
    // The same, counting ".." in the text alone.
    static bool staysInsideByText(const std::vector<std::string> &parts, const std::string &target);

    // Moves everything staged into the output folder and removes the staging
    // folder. First every question is asked and every link is checked against
    // what the output folder will hold; nothing moves when one leads out or
    // the user cancels. An existing file is replaced, asked about or kept by
    // the rule; an existing folder is never replaced. Any entry that cannot be
    // moved fails the extraction; links are checked once more where they
    // landed. After a failure what the move had put in place is taken back:
    // new entries go, replaced ones come back as they were.
    MoveOutcome moveInto();
    // After a failure: removes the staging folder and the folders made for the output folder.
    void discard();

private:
    struct StagedLink {
        std::vector<std::string> parts;
        std::string target;
        dev_t dev = 0;
        ino_t ino = 0;
    };
    struct Found {
        Node node = Node::Missing;
        bool staged = false; // the entry comes from the staging folder
        dev_t dev = 0;
        ino_t ino = 0;
    };
    enum class View { AsWritten, Decided, Output };

    explicit SafeTree(std::unique_ptr<OutputRoot> root);
    int openParent(const std::vector<std::string> &parts, bool create, TreeError *err);
    Found lookup(const std::vector<std::string> &parts, View view);
    // What the link rule sees at `parts` in `view`.
    Node nodeForLinkRule(const std::vector<std::string> &parts, View view);
    bool replaces(const std::string &relative) const;
    bool protectedFile(const struct stat &st) const;
    bool findProtected(std::string *clash);
    bool askEveryQuestion(MoveOutcome *out);
    bool linksLandInside(View view, std::string *offender);
    void place(MoveOutcome *out);
    bool takeBack();
    void removeLinksLeadingOut();

    std::unique_ptr<OutputRoot> m_root;
    mode_t m_umask;
    std::vector<StagedLink> m_links;
    OverwritePolicy m_policy;
    AskFn m_ask;
    bool m_yesToAll = false, m_noToAll = false;
    // Answers the user gave name by name; every other existing file follows
    // the policy or the answer "to all".
    std::unordered_map<std::string, bool> m_answers;
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
    // The folder the last entry was written into, kept open for the next one.
    std::vector<std::string> m_lastParent;
    UniqueFd m_lastParentFd;
};

} // namespace salvo::arc
