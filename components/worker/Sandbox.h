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

// Restricts this process for good: below each of `writable` everything but
// running programs and making devices, below each of `readable` reading
// files and folders, nothing anywhere else (and no network where the kernel
// can say so). False, and nothing restricted, when Landlock is missing.
bool confineTo(const std::vector<int> &writable, const std::vector<int> &readable);

} // namespace salvo::arc
