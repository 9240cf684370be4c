#pragma once
// What the decoder process does for a component: list, check, extract.
#include "core/Wire.h"
#include "OutputRoot.h"

#include <chrono>
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
    // How many leading entries were already handed to the listing's sink.
    size_t streamed = 0;
};

// `alive` is called now and then while a long walk goes on (at most once a second).
using AliveFn = std::function<void()>;

// The one keep-alive of the decoder: work calls tick() as often as it likes
// (per header, per data block), and `alive` runs at most once a second, which
// tells the component that a long job is still making progress.
class AliveTicker {
public:
    explicit AliveTicker(const AliveFn &alive) : m_alive(alive) {}
    void tick();

private:
    const AliveFn &m_alive;
    std::chrono::steady_clock::time_point m_last = std::chrono::steady_clock::now();
};

// Takes entries whose names are final while the walk goes on, so that a long
// listing can be shown before it ends.
using EntrySink = std::function<void(const EntryInfo &)>;

// The names are those the extraction writes. With a sink every entry is handed
// to it as soon as it is read and none is kept (the returned listing holds the
// outcome); without one they come with the returned listing.
Listing listArchive(const std::string &path, uint32_t formats, const AliveFn &alive = {},
                    const EntrySink &sink = {});

struct ExtractResult {
    int code = 0;
    std::string message; // for the output buffer
    int written = 0;     // files and links made
};

// SALVO_OK when the archive is one this component reads and is whole: with
// the rapid mode its first header must read, with the basic mode every header
// up to the archive's true end, and with the full-CRC mode (the test verb)
// every entry's data too, checked as an extraction checks it.
ExtractResult checkArchive(const std::string &path, uint32_t formats, int mode, const AliveFn &alive = {});

// Which part of a shared extraction (see ExtractionPlan.h) a decoder does.
enum class Share {
    Whole,  // the whole archive, alone
    Lead,   // makes the staging folder, extracts its range, and once every
            // range is done moves everything into place (or removes it all)
    Helper, // extracts its range into the lead's staging folder
};

struct ExtractRequest {
    std::string archive;
    uint32_t formats = 0;
    std::string outputDir;
    bool flat = false;
    OverwritePolicy overwrite = OverwritePolicy::Keep;
    std::vector<std::string> names;
    bool exactNames = false; // the names are exact entry names (folders with their "/"), not masks

    Share share = Share::Whole;
    uint32_t first = 0, end = UINT32_MAX; // the range of entries, in the archive's order
    int legacyNames = -1;                 // decided by the plan (0 or 1); -1: decided here
    // A helper's output and staging folders, those of the lead (borrowed).
    int outputFd = -1, stagingFd = -1;
};

// What the component says once every range of a shared extraction is done:
// a failure code and its message (then everything is removed), or 0 and how
// many files the other decoders made.
struct RangeVerdict {
    int code = 0;
    std::string message;
    int othersWritten = 0;
};

struct ExtractHooks {
    // Asks whether an existing file may be replaced; returns a SALVO_ANSWER_*.
    std::function<int(const std::string &path)> ask;
    // Called now and then while work goes on.
    std::function<void()> alive;
    // Asked for a password when an encrypted entry is read (`retry`: the one
    // given before did not fit); false to give up. None: encrypted entries fail.
    std::function<bool(bool retry, std::string *password)> password;
    // Told where the extraction writes before it writes anything (not for a
    // helper, which writes into its lead's).
    std::function<void(const OutputRoot &root)> staging;
    // Called once the output folder is open and before the archive is read:
    // the decoder confines itself to writing below that folder (false: it
    // could not, and nothing is extracted).
    std::function<bool(int outputFd)> confine;
    // A lead's own range is done: waits for the verdict over all ranges.
    std::function<RangeVerdict(const ExtractResult &own)> rangeDone;
    // How far the extraction has come: the entry being written, the bytes
    // written and the bytes of the archive read by this decoder for its
    // entries, and the archive's size. At most a few times a second.
    std::function<void(const std::string &entry, int64_t written, int64_t read, int64_t archiveSize)> progress;
};

ExtractResult extractArchive(const ExtractRequest &request, const ExtractHooks &hooks);

} // namespace salvo::arc
