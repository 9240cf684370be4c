#pragma once
// Walking and removing what an extraction wrote, through descriptors only and
// never following a symbolic link: used by the decoder after a failure and by
// the component when the decoder died in the middle of an archive. No walk
// holds more than a few descriptors, however deep the tree.
#include "Descriptors.h"

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace salvo::arc {

// The names in a folder given by a descriptor (without "." and ".."); the
// descriptor itself stays open and keeps its position.
std::vector<std::string> folderNames(int dirFd);

// One position in a tree of real folders, held by one descriptor. Going down
// opens a folder without following links; going up opens ".." and checks it
// is the very folder it came from, so a tree moved away meanwhile stops the
// walk instead of leading it elsewhere.
class FolderCursor {
public:
    explicit FolderCursor(int rootFd);
    int fd() const { return m_fd.get(); }
    bool valid() const { return m_fd.valid(); }
    size_t depth() const { return m_path.size() - 1; }
    // False (the cursor stays) when `name` is not a real folder or cannot be opened.
    bool enter(const std::string &name);
    // False when the parent is no longer the folder it came from: the cursor is then invalid.
    bool leave();

private:
    UniqueFd m_fd;
    std::vector<std::pair<dev_t, ino_t>> m_path; // from the root to here
};

// Removes a name and, for a real folder, everything below it; links are
// removed as links. False when something could not be removed.
bool removeTree(int parentFd, const std::string &name);
// Removes everything inside a folder, keeping the folder.
bool removeContents(int dirFd);
// Empties the folder held by `dirFd`, then removes `name` in `parentFd` only
// while that name still leads to this very folder (someone may have put
// another in its place meanwhile).
void removeHeldFolder(int parentFd, const std::string &name, int dirFd);

// Removes the folders `made` (outermost first) below `baseFd` from the
// innermost out, each only while it is empty.
void removeMadeFolders(int baseFd, const std::vector<std::string> &made);

// What one extraction call made below its output folder, held through the
// descriptors its decoder passed before it wrote anything: the staging folder
// and everything in it, and the folders made for the output folder. The
// component takes it away when the decoder died or was stopped, without ever
// looking a path up again.
class CreatedOutput {
public:
    // From a Staging message: false (nothing taken) when it is not one a
    // decoder makes.
    bool take(const std::string &stagingName, std::vector<std::string> made, FdList fds);
    bool known() const { return m_staging.valid(); }
    int outputFd() const { return m_output.get(); }
    int stagingFd() const { return m_staging.get(); }
    const std::string &stagingName() const { return m_stagingName; }
    // Removes the staging folder with what is in it, and the folders made for
    // the call while they are empty.
    void remove();
    // After a failed call: the folders made for it go while they are empty
    // (the decoder, confined to the output folder, cannot remove them).
    void removeMadeFolders();

private:
    UniqueFd m_output, m_staging, m_base;
    std::string m_stagingName;
    std::vector<std::string> m_made;
};

// The name of a staging folder: this prefix and random letters.
inline constexpr char kStagingPrefix[] = ".salvo-staging-";

} // namespace salvo::arc
