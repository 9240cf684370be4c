#pragma once
// The agreement of a ZIP's local headers with its central directory. A
// rewrite keeps an entry's compressed bytes but writes its local header anew
// from the central directory; readers that go by the local header (libarchive
// does) would then see another name, method, encryption or size than before.
// Such an archive is damaged and is not rewritten.
#include <cstdint>
#include <string>

namespace salvo::arc {

// True when every entry's local header has the central directory's name,
// compression method, encryption and name-encoding flags and (without a data
// descriptor) its checksum and sizes. False, with the reason, when one does
// not or the structures cannot be read.
bool zipLocalHeadersAgree(int fd, int64_t size, std::string *why);

} // namespace salvo::arc
