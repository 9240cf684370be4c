#pragma once
// The decoder's confinement by the kernel. The process never gains privileges
// (no set-uid program it might be tricked into running would gain any), and
// each request is served under Landlock rules made for it: writing only below
// the folders the request writes into, reading only below the folders it
// reads from; descriptors opened before (the archive handed over by the
// component) stay usable.
#include <vector>

namespace salvo::arc {

// Sets no-new-privileges for this process and every process it starts.
void forbidNewPrivileges();

// The Landlock version the kernel offers, 0 when it offers none that can
// confine an extraction (moving between folders needs version 2).
int landlockAbi();

// One file a confined process may still use: read it, and run it when
// `run` is set (a program and its loader; the libraries it maps are read).
struct FileGrant {
    int fd = -1;
    bool run = false;
};

// Restricts this process for good: below each of `writable` everything but
// running programs and making devices, below each of `readable` reading
// files and folders, the single files of `files` as each grant says, nothing
// anywhere else (and no network where the kernel can say so). False, and
// nothing restricted, when Landlock is missing.
bool confineTo(const std::vector<int> &writable, const std::vector<int> &readable,
               const std::vector<FileGrant> &files = {});

} // namespace salvo::arc
