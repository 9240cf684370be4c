// A test component that logs every call and answers from a script, installed
// under every component file name so that the adapter's dispatch can be proved
// without real archives.
//
// Log ($SALVO_RECORDING_LOG): one line per call, "ENTRY<TAB>MODE<TAB>TEXT".
// Script ($SALVO_RECORDING_SCRIPT): lines "KEY VALUE", read at every call. KEY is
// an entry name ("UnlhaCheckArchive", "UnZipGetVersion", "Unlha" for the main
// entry), optionally followed by "@" and an archive's file name to answer for
// that archive only. "<Prefix>Entries" lists entries as
// "name|original|compressed|ratio|date|time" joined by ";"; "<Prefix>EntriesEnd"
// is what FindNext answers after the last one (-1, the normal end).
#include "salvo_archiver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void record(const std::string &entry, long mode, const std::string &text)
{
    const char *log = std::getenv("SALVO_RECORDING_LOG");
    if (!log)
        return;
    const std::string line = entry + "\t" + std::to_string(mode) + "\t" + text + "\n";
    const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        [[maybe_unused]] ssize_t n = write(fd, line.data(), line.size());
        close(fd);
    }
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The script's value for a key, for this archive first; `fallback` otherwise.
std::string answer(const std::string &key, const std::string &archive, const std::string &fallback)
{
    const char *script = std::getenv("SALVO_RECORDING_SCRIPT");
    if (!script)
        return fallback;
    std::ifstream in(script);
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        const size_t blank = line.find(' ');
        if (blank != std::string::npos)
            values.emplace(line.substr(0, blank), line.substr(blank + 1));
    }
    auto it = values.find(key + "@" + baseName(archive));
    if (it == values.end())
        it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

long number(const std::string &key, const std::string &archive, long fallback)
{
    return std::strtol(answer(key, archive, std::to_string(fallback)).c_str(), nullptr, 10);
}

struct Open {
    std::string prefix;
    std::vector<SALVO_INDIVIDUALINFO> entries;
    size_t next = 0;
    int end = -1;
};

SALVO_HARC openArchive(const std::string &prefix, const char *archive, uint32_t mode)
{
    record(prefix + "OpenArchive", mode, archive);
    if (number(prefix + "OpenArchive", archive, 1) == 0)
        return nullptr;
    auto *o = new Open{prefix, {}, 0, static_cast<int>(number(prefix + "EntriesEnd", archive, -1))};
    std::stringstream all(answer(prefix + "Entries", archive, ""));
    std::string item;
    while (std::getline(all, item, ';')) {
        std::stringstream fields(item);
        std::string f[6];
        for (auto &x : f)
            std::getline(fields, x, '|');
        SALVO_INDIVIDUALINFO info{};
        if (f[0] == "<NONUL>")
            std::memset(info.szFileName, 'x', sizeof info.szFileName);
        else
            std::strncpy(info.szFileName, f[0].c_str(), SALVO_FNAME_MAX32);
        info.dwOriginalSize = static_cast<uint32_t>(std::strtoul(f[1].c_str(), nullptr, 10));
        info.dwCompressedSize = static_cast<uint32_t>(std::strtoul(f[2].c_str(), nullptr, 10));
        info.wRatio = static_cast<uint16_t>(std::strtoul(f[3].c_str(), nullptr, 10));
        info.wDate = static_cast<uint16_t>(std::strtoul(f[4].c_str(), nullptr, 10));
        info.wTime = static_cast<uint16_t>(std::strtoul(f[5].c_str(), nullptr, 10));
        o->entries.push_back(info);
    }
    return o;
}

int findNext(SALVO_HARC h, SALVO_INDIVIDUALINFO *info, const char *entry)
{
    auto *o = static_cast<Open *>(h);
    record(o->prefix + entry, static_cast<long>(o->next), "");
    if (o->next >= o->entries.size())
        return o->end;
    *info = o->entries[o->next++];
    return 0;
}

} // namespace

#define RECORDING_PREFIX(P)                                                                                    \
    EXPORT int P(SALVO_HWND, const char *cmd, char *out, uint32_t size)                                        \
    {                                                                                                          \
        record(#P, size, cmd);                                                                                 \
        if (out && size)                                                                                       \
            std::snprintf(out, size, "%s", answer(#P "Output", "", "").c_str());                               \
        return static_cast<int>(number(#P, "", 0));                                                            \
    }                                                                                                          \
    EXPORT int P##CheckArchive(const char *a, int mode)                                                        \
    {                                                                                                          \
        record(#P "CheckArchive", mode, a);                                                                    \
        return static_cast<int>(number(#P "CheckArchive", a, 1));                                             \
    }                                                                                                          \
    EXPORT int P##GetFileCount(const char *a)                                                                  \
    {                                                                                                          \
        record(#P "GetFileCount", 0, a);                                                                       \
        return static_cast<int>(number(#P "GetFileCount", a, 3));                                              \
    }                                                                                                          \
    EXPORT SALVO_HARC P##OpenArchive(SALVO_HWND, const char *a, uint32_t mode) { return openArchive(#P, a, mode); } \
    EXPORT int P##FindFirst(SALVO_HARC h, const char *, SALVO_INDIVIDUALINFO *i)                              \
    {                                                                                                          \
        static_cast<Open *>(h)->next = 0;                                                                      \
        return findNext(h, i, "FindFirst");                                                                    \
    }                                                                                                          \
    EXPORT int P##FindNext(SALVO_HARC h, SALVO_INDIVIDUALINFO *i) { return findNext(h, i, "FindNext"); }       \
    EXPORT int P##CloseArchive(SALVO_HARC h)                                                                   \
    {                                                                                                          \
        record(#P "CloseArchive", 0, "");                                                                      \
        delete static_cast<Open *>(h);                                                                         \
        return 0;                                                                                              \
    }                                                                                                          \
    EXPORT uint16_t P##GetVersion(void)                                                                        \
    {                                                                                                          \
        record(#P "GetVersion", 0, "");                                                                        \
        return static_cast<uint16_t>(number(#P "GetVersion", "", 100));                                       \
    }                                                                                                          \
    EXPORT uint16_t P##GetSubVersion(void)                                                                     \
    {                                                                                                          \
        record(#P "GetSubVersion", 0, "");                                                                     \
        return static_cast<uint16_t>(number(#P "GetSubVersion", "", 0));                                      \
    }                                                                                                          \
    EXPORT int P##GetBackendVersion(char *out, uint32_t size)                                                  \
    {                                                                                                          \
        record(#P "GetBackendVersion", size, "");                                                              \
        if (out && size)                                                                                       \
            std::snprintf(out, size, "%s", answer(#P "GetBackendVersion", "", "").c_str());                     \
        return static_cast<int>(number(#P "GetBackendVersionResult", "", 0));                                  \
    }

RECORDING_PREFIX(Unlha)
RECORDING_PREFIX(UnZip)
RECORDING_PREFIX(Zip)
RECORDING_PREFIX(Cab)
RECORDING_PREFIX(UnGCA)
RECORDING_PREFIX(Unrar)
RECORDING_PREFIX(SevenZip)
RECORDING_PREFIX(Yz1)
RECORDING_PREFIX(Unarj)
RECORDING_PREFIX(Tar)
RECORDING_PREFIX(Bga)
RECORDING_PREFIX(Unbel)
RECORDING_PREFIX(UnImp)
RECORDING_PREFIX(Kty)
RECORDING_PREFIX(Unace)
RECORDING_PREFIX(Paqar)
RECORDING_PREFIX(UnHki)

EXPORT int UnImpGetOriginalSize(SALVO_HARC)
{
    record("UnImpGetOriginalSize", 0, "");
    return static_cast<int>(number("UnImpGetOriginalSize", "", 0));
}

EXPORT int UnHkiGetArcOriginalSize(SALVO_HARC)
{
    record("UnHkiGetArcOriginalSize", 0, "");
    return static_cast<int>(number("UnHkiGetArcOriginalSize", "", 0));
}

// The ACE v2 entry: logs the texts the record points to, by offset.
EXPORT int ACEExtract(const char *archive, void *record156)
{
    const auto *r = static_cast<const unsigned char *>(record156);
    auto text = [r](int offset) {
        uint32_t address;
        std::memcpy(&address, r + offset, 4);
        return address ? std::string(reinterpret_cast<const char *>(static_cast<uintptr_t>(address))) : "<null>";
    };
    uint32_t flags[2];
    std::memcpy(&flags[0], r + 12, 4);
    std::memcpy(&flags[1], r + 84, 4);
    record("ACEExtract", 0,
           std::string(archive) + "|" + text(0) + "|" + text(4) + "|" + text(8) + "|" + std::to_string(flags[0]) + "|"
               + text(80) + "|" + std::to_string(flags[1]) + "|" + text(88));
    return static_cast<int>(number("ACEExtract", "", 0));
}
