#pragma once
// The second decoder of one request (see DecoderChoice.h, SevenZipTool.h):
// chosen from the archive's headers before the decoder confines itself, so
// that the confinement can leave exactly the program, its libraries and the
// archive's files to it. A listing, a check and an extraction that go this
// way end as those of libarchive do: the listing gives the same names, the
// extraction writes into the same staging folder, under the same checks of
// names and links, and is placed by the same move (SafeTree::moveInto).
#include "DecoderChoice.h"
#include "Operations.h"
#include "SafeTree.h"
#include "SevenZipTool.h"

#include <memory>
#include <string>
#include <vector>

namespace salvo::arc {

class SecondDecoder {
public:
    // The request's: prepared once, before the decoder is confined.
    static SecondDecoder &current();
    void prepare(const std::string &archive, uint32_t formats);

    bool used() const { return m_choice.kind == DecoderKind::SevenZipTool; }
    const DecoderChoice &choice() const { return m_choice; }
    // What the decoder's confinement must leave open: the program to run,
    // its libraries, and the archive's files for it to read.
    std::vector<FileGrant> grants() const;

    Listing list(const EntrySink &sink, const AliveFn &alive) const;
    ExtractResult check(int mode, const AliveFn &alive) const;

    // Counts of an extraction, for the result's text.
    struct Tally {
        int written = 0;
        int kept = 0;
        int linksLeftOut = 0;
        std::string notes;
    };
    // Extracts into `tree`'s staging folder (not yet into place).
    ExtractResult extract(const ExtractRequest &request, const ExtractHooks &hooks, SafeTree &tree,
                          Tally *tally) const;

private:
    SevenZipTool::Input input() const;

    DecoderChoice m_choice;
    // libarchive reads lzop streams through the lzop program, which it starts itself.
    std::unique_ptr<ConfinedProgram> m_filter;
    std::unique_ptr<VolumeInput> m_bytes;
    std::vector<std::string> m_names;
    std::unique_ptr<SevenZipTool> m_tool;
};

} // namespace salvo::arc
