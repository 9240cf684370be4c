#pragma once
// What the decoder's walks over an archive share: how an entry's name is
// read, and the checks at the archive's end.
#include "ArchiveSource.h"
#include "FormatChecks.h"

#include <string>

namespace salvo::arc {

// The name as stored (for a single compressed file: the name it gets).
std::string rawEntryName(ArchiveSource &src, archive_entry *e);
// A folder's name ends in "/".
std::string withFolderMark(std::string name, archive_entry *e);
// Reads the entries' names without their data and tells whether they must be
// read as CP932: a name that is not UTF-8, or a header that libarchive could
// not read without a code page (the LZH reader gives up on such a name). A
// header that is truly damaged fails the same way when read as CP932.
bool needsLegacyNames(const std::string &path, uint32_t formats);
// libarchive said the archive ends here: the compressed stream around it and
// the format's own end marker must agree, and every volume must have been read.
CheckFailure endOfArchive(ArchiveSource &src, const FormatChecks &checks);

} // namespace salvo::arc
