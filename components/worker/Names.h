#pragma once
// Entry names as they come out of an archive, turned into UTF-8 relative paths.
#include <string>
#include <string_view>
#include <vector>

namespace salvo::arc {

bool isValidUtf8(std::string_view s);
bool isAscii(std::string_view s);
// CP932 (Shift-JIS as Japanese Windows writes it) to UTF-8; undecodable bytes become "_".
std::string cp932ToUtf8(std::string_view s);
// Loads the CP932 converter of the C library for good, so that converting
// needs no file once the decoder may no longer open any.
void keepCodePageLoaded();

// How the names of one archive are read. An archive whose names are not all
// UTF-8 is reopened so that libarchive reads them as CP932 (`converted`); a
// compressed stream that cannot be read twice decides on the way: from the
// first name that is not UTF-8 on, names are taken as CP932.
class NameDecoder {
public:
    // Archives made on Windows use "\" between folders; tar archives do not.
    NameDecoder(bool backslashIsSeparator, bool converted)
        : m_backslash(backslashIsSeparator), m_converted(converted) {}
    void observe(std::string_view raw);
    std::string decode(std::string_view raw) const;

private:
    bool m_backslash;
    bool m_converted;
    bool m_cp932 = false;
};

// Splits a decoded name into safe path parts: "" and "." parts are dropped, so
// "./" names the top folder itself and yields no parts. False for names that
// must not be written: absolute, with a drive letter, with "..", or with NUL.
bool safeParts(std::string_view name, std::vector<std::string> *parts);

} // namespace salvo::arc
