#pragma once
// The output folder of one extraction and the staging folder made inside it.
// Both are opened once and from then on used only through their descriptors:
// nothing an extraction writes is ever looked up by path again, so a folder
// swapped for a link by someone else meanwhile changes nothing.
#include "core/Descriptors.h"

#include <memory>
#include <string>
#include <vector>

namespace salvo::arc {

class OutputRoot {
public:
    // Opens the output folder, making the parts of its path that are missing
    // one at a time. The folder itself must be a real folder: a symbolic link
    // in its place is refused (the parts before it are the caller's choice and
    // are followed). Then makes a fresh staging folder inside it, readable by
    // its owner only. Null, with `error` set, when any of that fails (folders
    // made by then are removed again).
    static std::unique_ptr<OutputRoot> create(const std::string &outputDir, std::string *error);
    // The output and staging folders another decoder of the same extraction
    // made: this one only writes into them.
    static std::unique_ptr<OutputRoot> adopt(const std::string &outputDir, UniqueFd output, UniqueFd staging);
    ~OutputRoot();

    int outputFd() const { return m_output.get(); }
    int stagingFd() const { return m_staging.get(); }
    const std::string &stagingName() const { return m_stagingName; }
    // The folders made for the output folder, outermost first, and the folder
    // the first of them was made in (-1 when none was made).
    const std::vector<std::string> &made() const { return m_made; }
    int baseFd() const { return m_base.get(); }
    const std::string &outputPath() const { return m_outputPath; }

    // Removes the staging folder and everything in it (only the one this
    // object made; an adopted one is its maker's).
    void removeStaging();
    // Removes the folders made for the output folder while they are empty.
    void removeMadeFolders();

private:
    OutputRoot() = default;
    UniqueFd m_output, m_staging, m_base;
    std::string m_stagingName;
    std::vector<std::string> m_made;
    std::string m_outputPath;
    bool m_owner = false;
};

} // namespace salvo::arc
