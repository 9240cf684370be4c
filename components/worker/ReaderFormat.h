#pragma once
// The format libarchive takes a file for when the readers of a component are
// enabled: what that component's listing and extraction see in it. An archive
// is written only in the format it is read in.
#include <cstdint>
#include <string>

namespace salvo::arc {

enum class ReadFormat { None, Lzh, Zip, SevenZip, Other };

// None when no reader takes the file.
ReadFormat readerFormat(const std::string &path, uint32_t formats);

const char *formatName(ReadFormat format);

} // namespace salvo::arc
