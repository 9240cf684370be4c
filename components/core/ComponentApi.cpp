#include "ComponentApi.h"

#include "ArchiveFiles.h"
#include "ExtractionCall.h"
#include "Wire.h"
#include "WriteCommands.h"
#include "WorkerClient.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace salvo::arc {
namespace {

struct Entry {
    std::string name;
    int64_t size = 0, compressed = 0;
    uint16_t dosDate = 0, dosTime = 0;
    std::string attribute, method;
};

// A listing read from a decoder as it walks the archive: batches of entries,
// then the outcome. The decoder stays with the listing until the outcome has
// come; a listing dropped before that stops its decoder.
class ListingStream {
public:
    ListingStream() = default;
    ListingStream(const ListingStream &) = delete;
    ListingStream &operator=(const ListingStream &) = delete;
    ~ListingStream() { WorkerClient::stop(&m_decoder); }

    bool start(const ComponentTraits &traits, const char *archive, const CallHooks &hooks)
    {
        m_hooks = hooks;
        if (m_hooks.cancelled && m_hooks.cancelled())
            return finish(SALVO_E_USER_CANCEL);
        m_decoder = WorkerClient::instance().take();
        const ArchiveFiles files(archive);
        WireWriter request(Msg::List);
        request.str(archive).u32(traits.formats);
        files.describe(request);
        if (!WorkerClient::send(&m_decoder, request.data(), files.descriptors()))
            return finish(SALVO_E_WORKER);
        return true;
    }

    bool done() const { return m_done; }
    int code() const { return m_code; }
    const std::string &message() const { return m_message; }

    // Waits for the next batch (or the outcome) and appends its entries; no
    // lock is held meanwhile. False once the listing has ended.
    bool pull(std::vector<Entry> *entries)
    {
        if (m_done)
            return false;
        std::string reply;
        bool cancelled = false;
        if (!WorkerClient::await(&m_decoder, &reply, m_hooks, &cancelled))
            return finish(cancelled ? SALVO_E_USER_CANCEL : SALVO_E_WORKER);
        WireReader r(reply);
        if (r.kind() == Msg::Batch) {
            if (!readEntries(r, entries))
                return finish(SALVO_E_INTERNAL);
            return true;
        }
        if (r.kind() != Msg::Entries)
            return finish(SALVO_E_INTERNAL);
        const int code = static_cast<int>(r.u32());
        m_message = r.str();
        if (!readEntries(r, entries))
            return finish(SALVO_E_INTERNAL);
        // The decoder has answered in full and serves the next call.
        WorkerClient::instance().giveBack(m_decoder);
        m_decoder = {};
        finish(code);
        return true;
    }

private:
    static bool readEntries(WireReader &r, std::vector<Entry> *entries)
    {
        const uint32_t count = r.u32();
        for (uint32_t i = 0; i < count && r.ok(); ++i) {
            Entry e;
            e.name = r.str();
            e.size = r.i64();
            e.compressed = r.i64();
            e.dosDate = static_cast<uint16_t>(r.u32());
            e.dosTime = static_cast<uint16_t>(r.u32());
            r.u32(); // mode
            e.attribute = r.str();
            e.method = r.str();
            if (r.ok())
                entries->push_back(std::move(e));
        }
        return r.ok();
    }

    bool finish(int code)
    {
        WorkerClient::stop(&m_decoder);
        m_done = true;
        m_code = code;
        return false;
    }

    CallHooks m_hooks;
    WorkerClient::Decoder m_decoder;
    bool m_done = false;
    int m_code = SALVO_OK;
    std::string m_message;
};

// How many entries an open archive keeps at most beyond those not yet found:
// a walk over ten million entries then holds a few megabytes, not gigabytes.
constexpr size_t kKeptEntries = 100000;

// An open archive: the entries received so far and the listing still coming.
// FindFirst / FindNext wait for more entries only when they have run out.
// Entries found long ago are dropped once many have come; a FindFirst after
// that lists the archive again.
struct OpenArchiveState {
    const ComponentTraits *traits = nullptr;
    std::string archive;
    std::vector<Entry> entries; // entries[0] is entry number `base` of the listing
    size_t base = 0;
    std::unique_ptr<ListingStream> listing = std::make_unique<ListingStream>();
    std::string wildcard;
    size_t next = 0;           // number of the next entry to look at
    size_t current = SIZE_MAX; // number of the entry last found
};

std::mutex g_handlesMutex;
std::set<OpenArchiveState *> g_handles;

std::mutex g_callbackMutex;
SALVO_OVERWRITE_CALLBACK g_callback = nullptr;
void *g_callbackUser = nullptr;
SALVO_PASSWORD_CALLBACK g_passwordCallback = nullptr;
void *g_passwordUser = nullptr;
SALVO_CANCEL_CALLBACK g_cancel = nullptr;
void *g_cancelUser = nullptr;
SALVO_PROGRESS_CALLBACK g_progress = nullptr;
void *g_progressUser = nullptr;

// The program's answer to whether the calling thread's work is to end; asked
// without any lock held.
bool cancelRequested()
{
    SALVO_CANCEL_CALLBACK cancel;
    void *user;
    {
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        cancel = g_cancel;
        user = g_cancelUser;
    }
    return cancel && cancel(user) != 0;
}

// The hooks of a call the program may cancel.
CallHooks cancellable()
{
    CallHooks hooks;
    hooks.cancelled = cancelRequested;
    return hooks;
}

OpenArchiveState *lookup(SALVO_HARC h)
{
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    auto *state = static_cast<OpenArchiveState *>(h);
    return g_handles.count(state) ? state : nullptr;
}

void copyOut(const std::string &text, char *output, uint32_t size)
{
    if (!output || size == 0)
        return;
    size_t n = std::min<size_t>(text.size(), size - 1);
    // Never cut a UTF-8 character in two.
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(output, text.data(), n);
    output[n] = '\0';
}

// Copies a UTF-8 text into a fixed field, cut at a character boundary.
void copyField(char *field, size_t size, const std::string &text)
{
    std::string t = text;
    if (t.size() >= size) {
        size_t n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80)
            --n;
        t.resize(n);
    }
    std::memset(field, 0, size);
    std::memcpy(field, t.data(), t.size());
}

// The whole listing, handed to `take` batch by batch (which may keep what it
// needs of it); false when the decoder could not be asked or answered
// nonsense (`*code` then says so).
bool fetchListing(const ComponentTraits &traits, const char *archive, int *code, std::string *message,
                  const std::function<void(std::vector<Entry> &batch)> &take)
{
    ListingStream listing;
    if (listing.start(traits, archive, cancellable())) {
        std::vector<Entry> batch;
        while (listing.pull(&batch)) {
            take(batch);
            batch.clear();
        }
        take(batch);
    }
    // A cancelled listing reads, as ever, as one the decoder did not give.
    *code = listing.code() == SALVO_E_USER_CANCEL ? SALVO_E_WORKER : listing.code();
    *message = listing.message();
    return *code != SALVO_E_WORKER && *code != SALVO_E_INTERNAL;
}

struct Callback {
    SALVO_OVERWRITE_CALLBACK function = nullptr;
    void *user = nullptr;
};

Callback currentCallback()
{
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    return {g_callback, g_callbackUser};
}

// The question goes out without any lock held: the program may call this
// component again while it waits for the user's answer.
int askThroughCallback(const std::string &path)
{
    const Callback callback = currentCallback();
    if (!callback.function)
        return SALVO_ANSWER_NO;
    return callback.function(callback.user, path.c_str());
}

// Tells the program how far the extraction has come, at most every 200 ms
// (the decoders of a shared extraction each report), without any lock held.
std::function<void(const std::string &, int64_t, int64_t, int64_t)> progressThroughCallback()
{
    SALVO_PROGRESS_CALLBACK function;
    void *user;
    {
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        function = g_progress;
        user = g_progressUser;
    }
    if (!function)
        return {};
    auto last = std::make_shared<std::chrono::steady_clock::time_point>();
    return [function, user, last](const std::string &entry, int64_t written, int64_t read, int64_t size) {
        const auto now = std::chrono::steady_clock::now();
        if (*last != std::chrono::steady_clock::time_point() && now - *last < std::chrono::milliseconds(200))
            return;
        *last = now;
        const SALVO_PROGRESS progress{entry.c_str(), written, read, size};
        function(user, &progress);
    };
}

struct PasswordCallback {
    SALVO_PASSWORD_CALLBACK function = nullptr;
    void *user = nullptr;
};

PasswordCallback currentPasswordCallback()
{
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    return {g_passwordCallback, g_passwordUser};
}

// Asks the program for a password, without any lock held; false when it gives
// none. The buffer is wiped before it goes.
bool askPassword(const PasswordCallback &callback, const std::string &archive, bool retry, std::string *password)
{
    if (!callback.function)
        return false;
    std::vector<char> buffer(1024, '\0');
    const int answer = callback.function(callback.user, archive.c_str(), retry ? 1 : 0, buffer.data(),
                                         static_cast<uint32_t>(buffer.size()));
    buffer.back() = '\0';
    if (answer == 1)
        password->assign(buffer.data());
    std::fill(buffer.begin(), buffer.end(), '\0');
    return answer == 1;
}

// Asks the decoder whether an archive is whole; its code and message.
int checkThroughWorker(const ComponentTraits &traits, const char *archive, int mode, std::string *message)
{
    std::string reply;
    const ArchiveFiles files(archive);
    WireWriter request(Msg::Check);
    request.str(archive).u32(traits.formats).u32(static_cast<uint32_t>(mode));
    files.describe(request);
    if (!WorkerClient::instance().call(request.data(), &reply, cancellable(), nullptr, files.descriptors())) {
        *message = std::string("書庫の検査中に展開処理が異常終了しました: ") + archive + "\n";
        return SALVO_E_WORKER;
    }
    WireReader r(reply);
    const int code = static_cast<int>(r.u32());
    *message = r.str();
    return r.ok() ? code : SALVO_E_INTERNAL;
}


void fill(const Entry &e, SALVO_INDIVIDUALINFO *info)
{
    std::memset(info, 0, sizeof *info);
    auto saturate = [](int64_t v) { return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 0xFFFFFFFFLL)); };
    info->dwOriginalSize = saturate(e.size);
    info->dwCompressedSize = saturate(e.compressed);
    if (e.size > 0 && e.compressed > 0)
        info->wRatio = static_cast<uint16_t>(std::min<int64_t>(e.compressed * 1000 / e.size, 65535));
    info->wDate = e.dosDate;
    info->wTime = e.dosTime;
    copyField(info->szFileName, sizeof info->szFileName, e.name);
    copyField(info->szAttribute, sizeof info->szAttribute, e.attribute);
    copyField(info->szMode, sizeof info->szMode, e.method);
}

// Finds the next entry matching the wildcard, waiting for the decoder when the
// entries received so far are used up. At the end: -1 when the listing was
// whole, or the listing's failure code when the archive is damaged (after the
// entries read before the damage were all handed out).
int findFrom(OpenArchiveState *state, SALVO_INDIVIDUALINFO *info)
{
    for (;;) {
        while (state->next < state->base + state->entries.size()) {
            const size_t at = state->next++;
            const Entry &e = state->entries[at - state->base];
            if (state->wildcard.empty() || matchesName(e.name, state->wildcard)) {
                state->current = at;
                if (info)
                    fill(e, info);
                return 0;
            }
        }
        if (state->entries.size() >= kKeptEntries) {
            // Everything before the entry last found has been handed out.
            const size_t keepFrom = std::min(state->current == SIZE_MAX ? state->next : state->current, state->next);
            const size_t drop = keepFrom - state->base;
            state->entries.erase(state->entries.begin(), state->entries.begin() + static_cast<std::ptrdiff_t>(drop));
            state->base += drop;
        }
        if (!state->listing->pull(&state->entries))
            break;
    }
    state->current = SIZE_MAX;
    return state->listing->code() == SALVO_OK ? -1 : state->listing->code();
}

} // namespace

int mainEntry(const ComponentTraits &traits, SALVO_HWND, const char *cmdLine, char *output, uint32_t outputSize) try {
    copyOut("", output, outputSize);
    if (!cmdLine)
        return SALVO_E_COMMAND_NAME;
    const std::optional<Command> command = parseCommand(traits.dialect, cmdLine);
    if (!command) {
        copyOut("コマンドが正しくありません。\n", output, outputSize);
        return SALVO_E_COMMAND_NAME;
    }
    switch (command->verb) {
    case Verb::Extract: {
        // The overwrite switches replace without asking; without them the
        // registered callback is asked, and with none existing files stay.
        OverwritePolicy policy = OverwritePolicy::Keep;
        if (command->overwrite)
            policy = OverwritePolicy::Force;
        else if (currentCallback().function)
            policy = OverwritePolicy::Ask;
        std::string text;
        CallHooks hooks = cancellable();
        hooks.ask = askThroughCallback;
        hooks.progress = progressThroughCallback();
        const PasswordCallback passwords = currentPasswordCallback();
        if (passwords.function)
            hooks.password = [&passwords, &command](bool retry, std::string *password) {
                return askPassword(passwords, command->archive, retry, password);
            };
        const int code = runExtraction(traits.formats, *command, policy, hooks, &text);
        copyOut(text, output, outputSize);
        return code;
    }
    case Verb::Test: {
        std::string message;
        const int code = checkThroughWorker(traits, command->archive.c_str(), SALVO_CHECKARCHIVE_FULLCRC, &message);
        copyOut(code == SALVO_OK ? "書庫は正常です。\n" : message, output, outputSize);
        return code;
    }
    case Verb::List: {
        int code = SALVO_OK;
        std::string message, text;
        // Only what fits the output buffer is kept.
        fetchListing(traits, command->archive.c_str(), &code, &message, [&](std::vector<Entry> &batch) {
            for (const Entry &e : batch) {
                if (text.size() < outputSize)
                    text += std::to_string(e.size) + "\t" + e.name + "\n";
            }
        });
        copyOut(code == SALVO_OK ? text : message, output, outputSize);
        return code;
    }
    case Verb::Delete:
    case Verb::Add:
        return runWriteCommand(traits, *command, output, outputSize);
    default:
        copyOut("この操作には対応していません。\n", output, outputSize);
        return SALVO_E_NOT_SUPPORT;
    }
} catch (...) {
    return SALVO_E_INTERNAL;
}

int checkArchive(const ComponentTraits &traits, const char *archive, int mode) try {
    if (!archive)
        return 0;
    std::string message;
    return checkThroughWorker(traits, archive, mode, &message) == SALVO_OK ? 1 : 0;
} catch (...) {
    return 0;
}

int getFileCount(const ComponentTraits &traits, const char *archive) try {
    if (!archive)
        return -1;
    int code = SALVO_OK;
    std::string message;
    size_t count = 0;
    if (!fetchListing(traits, archive, &code, &message, [&count](std::vector<Entry> &batch) { count += batch.size(); })
        || code != SALVO_OK)
        return -1;
    return static_cast<int>(std::min<size_t>(count, INT32_MAX));
} catch (...) {
    return -1;
}

SALVO_HARC openArchive(const ComponentTraits &traits, SALVO_HWND, const char *archive, uint32_t) try {
    if (!archive)
        return nullptr;
    auto state = std::make_unique<OpenArchiveState>();
    state->traits = &traits;
    state->archive = archive;
    // Returns with the first batch: the rest is read while the caller walks.
    if (state->listing->start(traits, archive, cancellable())) {
        while (state->entries.empty() && state->listing->pull(&state->entries)) {
        }
    }
    // A damaged archive still shows the entries read before the damage.
    if (state->entries.empty() && state->listing->done() && state->listing->code() != SALVO_OK)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    g_handles.insert(state.get());
    return state.release();
} catch (...) {
    return nullptr;
}

int findFirst(SALVO_HARC harc, const char *wildName, SALVO_INDIVIDUALINFO *info) try {
    OpenArchiveState *state = lookup(harc);
    if (!state)
        return SALVO_E_HARC_ISNOT_OPENED;
    if (state->base > 0) {
        // The first entries were dropped: the listing starts again.
        state->entries.clear();
        state->base = 0;
        state->current = SIZE_MAX;
        state->listing = std::make_unique<ListingStream>();
        state->listing->start(*state->traits, state->archive.c_str(), cancellable());
    }
    state->next = 0;
    state->wildcard = wildName ? wildName : "";
    if (state->wildcard == "*" || state->wildcard == "*.*")
        state->wildcard.clear();
    return findFrom(state, info);
} catch (...) {
    return -1;
}

int findNext(SALVO_HARC harc, SALVO_INDIVIDUALINFO *info) try {
    OpenArchiveState *state = lookup(harc);
    if (!state)
        return SALVO_E_HARC_ISNOT_OPENED;
    return findFrom(state, info);
} catch (...) {
    return -1;
}

int closeArchive(SALVO_HARC harc)
{
    OpenArchiveState *state = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        auto *s = static_cast<OpenArchiveState *>(harc);
        if (g_handles.erase(s))
            state = s;
    }
    if (!state)
        return SALVO_E_HARC_ISNOT_OPENED;
    delete state;
    return 0;
}

int getOriginalSizeEx(SALVO_HARC harc, int64_t *size)
{
    OpenArchiveState *state = lookup(harc);
    if (!state || state->current == SIZE_MAX || state->current < state->base
        || state->current - state->base >= state->entries.size() || !size)
        return -1;
    *size = state->entries[state->current - state->base].size;
    return 0;
}

int setOverwriteCallback(SALVO_OVERWRITE_CALLBACK callback, void *user)
{
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    g_callback = callback;
    g_callbackUser = user;
    return 0;
}

int setPasswordCallback(SALVO_PASSWORD_CALLBACK callback, void *user)
{
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    g_passwordCallback = callback;
    g_passwordUser = user;
    return 0;
}

int setCancelCallback(SALVO_CANCEL_CALLBACK callback, void *user)
{
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    g_cancel = callback;
    g_cancelUser = user;
    return 0;
}

int setProgressCallback(SALVO_PROGRESS_CALLBACK callback, void *user)
{
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    g_progress = callback;
    g_progressUser = user;
    return 0;
}

int getBackendVersion(char *buffer, uint32_t size) try {
    std::string reply;
    if (!WorkerClient::instance().call(WireWriter(Msg::Version).data(), &reply))
        return SALVO_E_WORKER;
    WireReader r(reply);
    const int code = static_cast<int>(r.u32());
    const std::string text = r.str();
    if (!r.ok())
        return SALVO_E_INTERNAL;
    copyOut(text, buffer, size);
    return code;
} catch (...) {
    return SALVO_E_INTERNAL;
}

} // namespace salvo::arc
