#include "Names.h"

#include <iconv.h>

namespace salvo::arc {

bool isAscii(std::string_view s)
{
    for (unsigned char c : s) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

bool isValidUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000)
            || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string cp932ToUtf8(std::string_view s)
{
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (unsigned char c : s)
            out.push_back(c < 0x80 ? static_cast<char>(c) : '_');
        return out;
    }
    std::string in(s);
    char *inp = in.data();
    size_t inLeft = in.size();
    std::string buffer(in.size() * 3 + 8, '\0');
    while (inLeft > 0) {
        char *outp = buffer.data();
        size_t outLeft = buffer.size();
        const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (r == static_cast<size_t>(-1) && inLeft > 0) {
            // An undecodable byte: keep going after it.
            out.push_back('_');
            ++inp;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

void keepCodePageLoaded()
{
    // Never closed: while one converter is open the module stays loaded.
    static const iconv_t kept = iconv_open("UTF-8", "CP932");
    (void)kept;
}

void NameDecoder::observe(std::string_view raw)
{
    if (!m_converted && !m_cp932 && !isValidUtf8(raw))
        m_cp932 = true;
}

std::string NameDecoder::decode(std::string_view raw) const
{
    std::string name;
    if (m_converted)
        name = isValidUtf8(raw) ? std::string(raw) : cp932ToUtf8(raw);
    else
        name = (m_cp932 && !isAscii(raw)) ? cp932ToUtf8(raw) : std::string(raw);
    // Decoding comes first: in CP932 a second byte 0x5C is part of a character
    // (表, ソ, 能), not a separator, and only the decoded text tells them apart.
    if (m_backslash) {
        for (char &c : name) {
            if (c == '\\')
                c = '/';
        }
    }
    return name;
}

bool safeParts(std::string_view name, std::vector<std::string> *parts)
{
    parts->clear();
    if (!name.empty() && name.front() == '/')
        return false;
    // "C:" at the start is a Windows drive: as absolute as a leading "/".
    if (name.size() >= 2 && name[1] == ':')
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string_view::npos)
            slash = name.size();
        const std::string_view part = name.substr(start, slash - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".") {
            if (part.find('\0') != std::string_view::npos)
                return false;
            parts->emplace_back(part);
        }
        start = slash + 1;
    }
    return true;
}

} // namespace salvo::arc
