#include "SevenZipTool.h"

#include "Names.h"
#include "ZipCentralDirectory.h"
#include "core/Wire.h"
#include "salvo_archiver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

// Code page 437, bytes 0x80 to 0xFF.
constexpr uint16_t kCodePage437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string slashes(std::string s)
{
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

// A name as two listings compare it: "/" between parts, no "/" at the end.
std::string comparable(const std::string &s)
{
    std::string out = slashes(s);
    while (!out.empty() && out.back() == '/')
        out.pop_back();
    return out;
}

// "drwxr-xr-x" (the part after the blank in 7zz's attributes) as a mode.
uint32_t modeOf(const std::string &attributes)
{
    const size_t blank = attributes.find_last_of(' ');
    const std::string text = blank == std::string::npos ? attributes : attributes.substr(blank + 1);
    if (text.size() != 10 || std::string("-dlcbps").find(text[0]) == std::string::npos)
        return 0;
    uint32_t mode = 0;
    switch (text[0]) {
    case 'd': mode = S_IFDIR; break;
    case 'l': mode = S_IFLNK; break;
    case 'c': mode = S_IFCHR; break;
    case 'b': mode = S_IFBLK; break;
    case 'p': mode = S_IFIFO; break;
    case 's': mode = S_IFSOCK; break;
    default: mode = S_IFREG; break;
    }
    static const uint32_t bits[9] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (int i = 0; i < 9; ++i) {
        const char c = text[1 + i];
        if (c != '-' && c != 'S' && c != 'T')
            mode |= bits[i];
    }
    if (text[3] == 's' || text[3] == 'S')
        mode |= S_ISUID;
    if (text[6] == 's' || text[6] == 'S')
        mode |= S_ISGID;
    if (text[9] == 't' || text[9] == 'T')
        mode |= S_ISVTX;
    return mode;
}

time_t timeOf(const std::string &text)
{
    struct tm tm {};
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

// Reads `7zz l -slt -ba` line by line.
class ListingReader {
public:
    explicit ListingReader(std::vector<ToolEntry> *entries) : m_entries(entries) {}
    void line(const std::string &text)
    {
        const size_t eq = text.find(" = ");
        if (eq == std::string::npos)
            return;
        const std::string key = text.substr(0, eq), value = text.substr(eq + 3);
        if (key == "Path") {
            m_entries->push_back({});
            m_entries->back().toolPath = value;
            return;
        }
        if (m_entries->empty())
            return;
        ToolEntry &e = m_entries->back();
        if (key == "Folder")
            e.folder = e.folder || value == "+";
        else if (key == "Size")
            e.size = std::strtoll(value.c_str(), nullptr, 10);
        else if (key == "Packed Size")
            e.packed = std::strtoll(value.c_str(), nullptr, 10);
        else if (key == "Modified")
            e.mtime = timeOf(value);
        else if (key == "Encrypted")
            e.encrypted = value == "+";
        else if (key == "Attributes") {
            e.mode = modeOf(value);
            if (!value.empty() && value[0] == 'D')
                e.folder = true;
            if (S_ISDIR(e.mode))
                e.folder = true;
            if (S_ISLNK(e.mode))
                e.link = true;
        }
    }

private:
    std::vector<ToolEntry> *m_entries;
};

bool contains(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

// The names a ZIP's central directory gives, each as stored with how it is
// meant: a UTF-8 name, a Unicode path field, or bytes of a code page.
struct StoredZipName {
    std::string raw;
    bool utf8 = false;
    std::string unicode;
};

bool nameZipEntries(const VolumeInput &bytes, std::vector<ToolEntry> &entries, std::string *message)
{
    std::vector<int64_t> starts;
    for (const VolumeInput::Volume &v : bytes.volumes())
        starts.push_back(v.offset);
    ZipCentralDirectory directory;
    const auto read = [&bytes](int64_t pos, void *buffer, size_t n) { return bytes.readFully(pos, buffer, n); };
    std::vector<StoredZipName> stored;
    std::string error;
    if (!directory.open(read, bytes.size(), starts, &error)
        || !directory.forEach(
            [&](const ZipCentralEntry &e, const std::string &) {
                stored.push_back({e.name, e.utf8(), e.unicodeName});
                return stored.size() <= entries.size();
            },
            &error)
        || stored.size() != entries.size()) {
        *message = error.empty() ? "ZIP の中央ディレクトリと項目の数が合いません" : error;
        return false;
    }
    // The rule of the libarchive path: names without the UTF-8 flag are CP932
    // as soon as one of them is not UTF-8.
    bool legacy = false;
    for (const StoredZipName &s : stored)
        legacy = legacy || (!s.utf8 && s.unicode.empty() && !isValidUtf8(s.raw));
    for (size_t i = 0; i < entries.size(); ++i) {
        const StoredZipName &s = stored[i];
        // 7zz lists the entries in the directory's order: each must be the same name.
        const std::string tool = comparable(entries[i].toolPath);
        const bool same = tool == comparable(s.utf8 ? s.raw : s.unicode.empty() ? toCodePage437(s.raw) : s.unicode)
            || tool == comparable(toCodePage437(s.raw)) || tool == comparable(s.raw);
        if (!same) {
            *message = "7zz の名前が中央ディレクトリの名前と合いません: " + entries[i].toolPath;
            return false;
        }
        std::string name;
        if (s.utf8)
            name = s.raw;
        else if (!s.unicode.empty())
            name = s.unicode;
        else
            name = legacy && !isAscii(s.raw) ? cp932ToUtf8(s.raw) : s.raw;
        if (!isValidUtf8(name))
            name = cp932ToUtf8(name);
        entries[i].name = slashes(name);
    }
    return true;
}

bool nameEntries(const DecoderChoice &choice, const VolumeInput &bytes, std::vector<ToolEntry> &entries,
                 std::string *message)
{
    if (choice.family == kZip) {
        if (!nameZipEntries(bytes, entries, message))
            return false;
    } else if (choice.family == kArj) {
        // ARJ names are bytes of the system that made them.
        std::vector<std::string> raws;
        NameDecoder decoder(true, false);
        for (const ToolEntry &e : entries) {
            bool exact = true;
            raws.push_back(fromCodePage437(e.toolPath, &exact));
            if (!exact)
                raws.back() = e.toolPath;
            decoder.observe(raws.back());
        }
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i].name = decoder.decode(raws[i]);
    } else {
        // 7z stores its names in Unicode.
        const NameDecoder decoder(true, true);
        for (ToolEntry &e : entries)
            e.name = decoder.decode(e.toolPath);
    }
    for (ToolEntry &e : entries) {
        if (e.folder && !e.name.empty() && e.name.back() != '/')
            e.name.push_back('/');
    }
    return true;
}

} // namespace

std::string fromCodePage437(const std::string &utf8, bool *exact)
{
    std::string out;
    *exact = true;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t n = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 0;
        if (n == 0 || i + n > utf8.size()) {
            *exact = false;
            return utf8;
        }
        cp = n == 2 ? (c & 0x1F) : (c & 0x0F);
        for (size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        const uint16_t *at = std::find(std::begin(kCodePage437), std::end(kCodePage437), cp);
        if (at == std::end(kCodePage437)) {
            *exact = false;
            return utf8;
        }
        out.push_back(static_cast<char>(0x80 + (at - std::begin(kCodePage437))));
        i += n;
    }
    return out;
}

std::string toCodePage437(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else
            appendUtf8(out, kCodePage437[c - 0x80]);
    }
    return out;
}

std::unique_ptr<SevenZipTool> SevenZipTool::find()
{
    const char *named = std::getenv("SALVO_SECOND_DECODER");
    const std::string name = named ? named : "7zz";
    if (name.empty())
        return nullptr;
    auto program = ConfinedProgram::find(name);
    if (!program)
        return nullptr;
    auto tool = std::unique_ptr<SevenZipTool>(new SevenZipTool());
    tool->m_program = std::move(program);
    return tool;
}

ConfinedProgram::Outcome SevenZipTool::run(const Input &input, int folder, std::vector<std::string> arguments,
                                           const std::string &password, const AliveFn &alive,
                                           const std::function<void(const std::string &)> &line) const
{
    ConfinedProgram::Run run;
    // Quiet, UTF-8 text, no questions (a password is read once from the input).
    run.arguments = {arguments[0], "-bd", "-bso1", "-bse2", "-bsp0", "-sccUTF-8", "-y"};
    run.arguments.insert(run.arguments.end(), arguments.begin() + 1, arguments.end());
    if (folder >= 0) {
        run.arguments.push_back("in/" + input.names.front());
        run.writableFolder = folder;
        run.workingFolder = folder;
    } else {
        run.arguments.push_back("/proc/self/fd/3");
    }
    run.files = input.files;
    run.input = password.empty() ? std::string() : password + "\n";
    run.alive = alive;
    run.line = line;
    return m_program->run(run);
}

int toolFailure(const ConfinedProgram::Outcome &outcome, bool passwordGiven, std::string *message)
{
    const std::string text = outcome.errors + outcome.output;
    std::string said;
    // The lines that say what went wrong, without the program's banner.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (contains(line, "ERROR") || contains(line, "Error") || contains(line, "error") || contains(line, "Wrong")
            || contains(line, "Cannot") || contains(line, "Can not") || contains(line, "Unsupported")
            || contains(line, "Unexpected") || contains(line, "Missing"))
            said += line + "\n";
    }
    *message = said.empty() ? "7zz が失敗しました (終了コード " + std::to_string(outcome.exitCode) + ")" : said;
    if (!outcome.started)
        return SALVO_E_WORKER;
    if (outcome.tooLong)
        return SALVO_E_ENOUGH_MEMORY;
    if (contains(text, "Wrong password") || contains(text, "Cannot open encrypted archive")
        || contains(text, "Can not open encrypted archive"))
        return passwordGiven ? SALVO_E_BAD_PASSWORD : SALVO_E_PASSWORD_FILE;
    if (contains(text, "Unsupported Method") || contains(text, "Unsupported method"))
        return SALVO_E_METHOD;
    if (contains(text, "No space left") || contains(text, "errno=28"))
        return SALVO_E_DISK_SPACE;
    if (contains(text, "Missing volume"))
        return SALVO_E_MISSING_VOLUME;
    if (contains(text, "Unexpected end of"))
        return SALVO_E_UNEXPECTED_EOF;
    if (contains(text, "CRC Failed"))
        return SALVO_E_FILE_CRC;
    if (contains(text, "Data Error"))
        return SALVO_E_BROKEN_DATA;
    if (contains(text, "Headers Error"))
        return SALVO_E_HEADER_BROKEN;
    if (contains(text, "Cannot open the file as") || contains(text, "Can not open the file as")
        || contains(text, "Can't open as archive"))
        return SALVO_E_NOT_ARC_FILE;
    if (outcome.exitCode == 8)
        return SALVO_E_ENOUGH_MEMORY;
    if (outcome.exitCode == 255)
        return SALVO_E_USER_CANCEL;
    return SALVO_E_BROKEN_DATA;
}

int SevenZipTool::list(const Input &input, int folder, const DecoderChoice &choice, const VolumeInput &bytes,
                       const std::string &password, std::vector<ToolEntry> *entries, std::string *message,
                       const AliveFn &alive) const
{
    if (folder < 0 && input.files.size() != 1) {
        *message = "分割された書庫は 7zz では一覧にできません";
        return SALVO_E_NOT_SUPPORT;
    }
    // A listing holds at most this many entries: the second decoder's names
    // are all kept until they are read by this program's rule.
    constexpr size_t kMostEntries = 2000000;
    ListingReader reader(entries);
    bool tooMany = false;
    const ConfinedProgram::Outcome outcome = run(input, folder, {"l", "-slt", "-ba"}, password, alive,
                                                 [&](const std::string &line) {
                                                     if (entries->size() <= kMostEntries)
                                                         reader.line(line);
                                                     else
                                                         tooMany = true;
                                                 });
    if (outcome.exitCode != 0)
        return toolFailure(outcome, !password.empty(), message);
    if (tooMany) {
        *message = "項目が多すぎるため 7zz では読めません";
        return SALVO_E_ENOUGH_MEMORY;
    }
    if (!nameEntries(choice, bytes, *entries, message))
        return SALVO_E_HEADER_BROKEN;
    return SALVO_OK;
}

int SevenZipTool::test(const Input &input, const std::string &password, std::string *message,
                       const AliveFn &alive) const
{
    if (input.files.size() != 1) {
        *message = "分割された書庫は 7zz では検査できません";
        return SALVO_E_NOT_SUPPORT;
    }
    const ConfinedProgram::Outcome outcome = run(input, -1, {"t"}, password, alive);
    return outcome.exitCode == 0 ? SALVO_OK : toolFailure(outcome, !password.empty(), message);
}

bool SevenZipTool::prepare(const Input &input, int folder, std::string *message)
{
    if (mkdirat(folder, "in", 0700) != 0 || mkdirat(folder, "out", 0700) != 0) {
        *message = "作業フォルダを作成できません";
        return false;
    }
    const UniqueFd in(openat(folder, "in", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    for (size_t i = 0; i < input.names.size(); ++i) {
        const std::string target = "/proc/self/fd/" + std::to_string(3 + i);
        if (!in.valid() || symlinkat(target.c_str(), in.get(), input.names[i].c_str()) != 0) {
            *message = "作業フォルダを作成できません";
            return false;
        }
    }
    return true;
}

int SevenZipTool::extract(const Input &input, int folder, const std::string &password, std::string *message,
                          const AliveFn &alive) const
{
    // Links are made as links, also those 7zz itself would call dangerous:
    // it writes nowhere but its own folder, and every link it makes is read
    // and made again here under this program's own rule (or the archive fails).
    const ConfinedProgram::Outcome outcome = run(input, folder, {"x", "-snl", "-snld", "-oout"}, password, alive);
    return outcome.exitCode == 0 ? SALVO_OK : toolFailure(outcome, !password.empty(), message);
}

std::string missingToolMessage(const DecoderChoice &choice)
{
    return "この書庫 (" + choice.lacking + ") の解凍には 7zip パッケージ (7zz) が必要です。"
           "sudo apt install 7zip でインストールしてください";
}

} // namespace salvo::arc
