#pragma once
// Removing what an extraction wrote, without ever following a symbolic link:
// used by the decoder after a failure and by the component when the decoder
// died in the middle of an archive.
#include <string>
#include <vector>

namespace salvo::arc {

// The names in a folder given by a descriptor (without "." and ".."); the
// descriptor itself stays open and keeps its position.
std::vector<std::string> folderNames(int dirFd);
// Whether that folder holds nothing (it stops at the first name).
bool folderIsEmpty(int dirFd);

// Removes a name and, for a real folder, everything below it; links are
// removed as links.
void removeTree(int parentFd, const char *name);

// What one extraction call may create below its output folder, noted before
// the call, so that the calling side can take it away again when the decoder
// died: the staging folder (or, when the decoder wrote straight into an empty
// output folder, everything in it) and the folders the call created.
class CreatedOutput {
public:
    explicit CreatedOutput(std::string outputDir);
    // The decoder says where it writes: a staging folder's name, or "" for the
    // output folder itself (which was empty when it began).
    void setStaging(std::string name);
    // Removes what the call wrote and the folders it created that are empty.
    void remove() const;

private:
    std::string m_outputDir;
    std::vector<std::string> m_missingFolders; // deepest first
    bool m_wasEmpty = false;
    bool m_known = false;
    std::string m_staging;
};

} // namespace salvo::arc
