#pragma once
// What the decoder process does for a component: list, check, extract.
#include "core/Wire.h"

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

struct ExtractResult {
    int code = 0;
    std::string message; // for the output buffer
};

// SALVO_OK when the archive is one this component reads and is whole: with
// the rapid mode its first header must read, with the basic mode every header
// up to the archive's true end, and with the full-CRC mode (the test verb)
// every entry's data too, checked as an extraction checks it.
ExtractResult checkArchive(const std::string &path, uint32_t formats, int mode, const AliveFn &alive = {});

struct ExtractRequest {
    std::string archive;
    uint32_t formats = 0;
    std::string outputDir;
    bool flat = false;
    OverwritePolicy overwrite = OverwritePolicy::Keep;
    std::vector<std::string> names;
};

struct ExtractHooks {
    // Asks whether an existing file may be replaced; returns a SALVO_ANSWER_*.
    std::function<int(const std::string &path)> ask;
    // Called now and then while work goes on.
    std::function<void()> alive;
    // Asked for a password when an encrypted entry is read (`retry`: the one
    // given before did not fit); false to give up. None: encrypted entries fail.
    std::function<bool(bool retry, std::string *password)> password;
    // Told where the extraction writes before it writes anything: the staging
    // folder's name, or "" for the (empty) output folder itself.
    std::function<void(const std::string &staging)> staging;
};

ExtractResult extractArchive(const ExtractRequest &request, const ExtractHooks &hooks);

} // namespace salvo::arc
