#pragma once
// Which entries of an archive a delete or an add acts on. Names are compared
// exactly, byte for byte, in the form the listing shows them after the
// format's own decoding: another case, a leading "/", a trailing blank or dot
// make another name. "\" separates folders in every format written here, so
// it is read as "/" on both sides.
#include "ArchiveRewrite.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace salvo::arc {

// The entries a delete of `asked` takes, in archive order; none when no entry
// has that name. A name with its closing "/" names a folder; a folder named
// without it is found too, when no file has the name. A folder takes
// everything under it, a file only itself. With `masks`, a name that holds
// "*" or "?" and names no entry itself takes every entry it matches.
std::vector<size_t> entriesToDelete(const std::vector<ExistingEntry> &entries, const std::string &asked, bool masks);

// The archive's entries by exact name, for adding many files at once.
class EntryIndex {
public:
    explicit EntryIndex(const std::vector<ExistingEntry> &entries);
    // Every entry of this name (file or folder), in archive order.
    const std::vector<size_t> &find(std::string_view name) const;

private:
    std::unordered_map<std::string_view, std::vector<size_t>> m_byName;
};

} // namespace salvo::arc
