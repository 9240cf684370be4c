#pragma once
// The second decoder: 7-Zip's `7zz` (Debian's 7zip package, a program of its
// own under the LGPL), for what libarchive cannot read (see DecoderChoice.h).
// It runs as a child of the confined decoder, confined further to one private
// folder inside the staging folder (ConfinedProgram.h), and reads the very
// files the component handed over (as /proc/self/fd/N). It only lists and
// decodes: the names the entries get, the checks of paths and links, the
// questions and the placing are the decoder's own, exactly as for libarchive.
//
// Names: 7zz turns names that are not Unicode in their archive into text by
// code page 437. Every byte has its own character there, so the stored bytes
// come back exactly and are read by this program's own rule (CP932 when any
// name is not UTF-8); a ZIP's names are taken from its central directory,
// with the UTF-8 flag and the Unicode path field of each entry.
#include "ConfinedProgram.h"
#include "DecoderChoice.h"
#include "Operations.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace salvo::arc {

struct ToolEntry {
    std::string toolPath; // the path 7zz gives the entry and writes it under
    std::string name;     // as this program reads it: UTF-8, "/" between parts, folders end in "/"
    bool folder = false;
    bool link = false;
    int64_t size = 0;
    int64_t packed = 0;
    uint32_t mode = 0; // the Unix mode the archive stores, 0 when it stores none
    time_t mtime = 0;
    bool encrypted = false;
};

// Where the second decoder's text of a name goes back to the stored bytes.
std::string fromCodePage437(const std::string &utf8, bool *exact);
std::string toCodePage437(const std::string &bytes);

class SevenZipTool {
public:
    // 7zz as the search path finds it; SALVO_SECOND_DECODER names another
    // program (empty: none). Null when it is not installed.
    static std::unique_ptr<SevenZipTool> find();

    // What the decoder's confinement must leave to the program.
    std::vector<FileGrant> grants() const { return m_program->grants(); }

    // The archive the program reads: the volumes given open, by their names.
    struct Input {
        std::vector<int> files;
        std::vector<std::string> names; // file names of the volumes, without folders
    };

    // Makes the program's folder ready in `folder` (which it may write below,
    // and nothing else): "in" with the volumes by their own names, each a link
    // to the file handed over, so that 7zz finds the later volumes of a split
    // archive beside the first, and "out" for what it extracts.
    static bool prepare(const Input &input, int folder, std::string *message);
    // Lists the archive; the names are read as the extraction reads them.
    // SALVO_OK or a failure code, with `message`. Without a prepared folder
    // (-1) only a single file can be read.
    int list(const Input &input, int folder, const DecoderChoice &choice, const VolumeInput &bytes,
             const std::string &password, std::vector<ToolEntry> *entries, std::string *message,
             const AliveFn &alive) const;
    // Tests every entry's data.
    int test(const Input &input, const std::string &password, std::string *message, const AliveFn &alive) const;
    // Extracts everything into "out" of the prepared `folder`.
    int extract(const Input &input, int folder, const std::string &password, std::string *message,
                const AliveFn &alive) const;

private:
    ConfinedProgram::Outcome run(const Input &input, int folder, std::vector<std::string> arguments,
                                 const std::string &password, const AliveFn &alive,
                                 const std::function<void(const std::string &)> &line = {}) const;

    std::unique_ptr<ConfinedProgram> m_program;
};

// The failure code and message of what the program said when it failed.
int toolFailure(const ConfinedProgram::Outcome &outcome, bool passwordGiven, std::string *message);

// The message of an archive that needs the second decoder where it is not installed.
std::string missingToolMessage(const DecoderChoice &choice);

} // namespace salvo::arc
