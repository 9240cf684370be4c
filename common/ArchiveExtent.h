#pragma once
// How far an archive reaches through numbered files ("name.001", "name.002",
// ...), read from the archive's own structure rather than from the names. Two
// complete archives that happen to be numbered are two archives, and a stray
// piece of another set after a complete one is no part of it: a file counts as
// a volume only when the archive that begins in the first one goes on into it.
// Plain C++ on POSIX paths, no Qt; the program (queue, deletion) and the
// components (reading) share it.
#include <cstddef>
#include <string>
#include <vector>

namespace salvo {

struct ArchiveExtent {
    // The structure told where the archive ends (else the names must do).
    bool known = false;
    // How many of the files, from the first, the archive spans.
    size_t volumes = 0;
    // It ends past the last file given: a later volume is missing.
    bool beyondLast = false;
};

// The extent of the archive that begins at the start of `paths[0]`, the
// files read one after the other. Known for a 7z (its start header says where
// its last header ends), a ZIP that begins with an entry (it ends with the end
// record of its central directory, whose offsets agree with where it stands)
// and a tar (its headers, walked to the end blocks and their padding).
ArchiveExtent archiveExtent(const std::vector<std::string> &paths);

// How the files are opened for reading: open(2) by default. The decoder,
// which reads the files its component handed it already open, puts its own
// here (a new descriptor, or -1).
using VolumeOpener = int (*)(const char *path);
void setVolumeOpener(VolumeOpener opener);

} // namespace salvo
