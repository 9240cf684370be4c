#pragma once
// What the decoder process does for a component: list, check, extract.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace salvo::arc {

struct EntryInfo {
    std::string name;      // UTF-8, "/" between parts; folders end in "/"
    int64_t size = 0;      // original size
    int64_t compressed = 0; // 0 when the format does not tell
    uint16_t dosDate = 0, dosTime = 0;
    uint32_t mode = 0;
    std::string attribute;
    std::string method;
};

struct Listing {
    int code = 0; // SALVO_OK or a failure code; entries read before a failure are kept
    std::string message;
    std::vector<EntryInfo> entries;
};

// `alive` is called now and then while a long walk goes on (at most once a second).
using AliveFn = std::function<void()>;

Listing listArchive(const std::string &path, uint32_t formats, const AliveFn &alive = {});

// 1 when the archive is one this component reads: with mode 0 its first
// header must read, with any other mode every header up to the end.
int checkArchive(const std::string &path, uint32_t formats, int mode, const AliveFn &alive = {});

enum class OverwritePolicy : uint32_t { Ask = 0, Force = 1, Keep = 2 };

struct ExtractRequest {
    std::string archive;
    uint32_t formats = 0;
    std::string outputDir;
    bool flat = false;
    OverwritePolicy overwrite = OverwritePolicy::Keep;
    std::vector<std::string> names;
};

struct ExtractResult {
    int code = 0;
    std::string message; // for the output buffer
};

struct ExtractHooks {
    // Asks whether an existing file may be replaced; returns a SALVO_ANSWER_*.
    std::function<int(const std::string &path)> ask;
    // Called now and then while work goes on.
    std::function<void()> alive;
};

ExtractResult extractArchive(const ExtractRequest &request, const ExtractHooks &hooks);

} // namespace salvo::arc
