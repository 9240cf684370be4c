#include "ComponentApi.h"

#include "ExtractionCall.h"
#include "Wire.h"
#include "WriteCommands.h"
#include "WorkerClient.h"

#include <algorithm>
#include <cstring>
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

struct OpenArchiveState {
    std::vector<Entry> entries;
    std::string wildcard;
    size_t next = 0;
    const Entry *current = nullptr;
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

bool fetchListing(const ComponentTraits &traits, const char *archive, int *code, std::string *message,
                  std::vector<Entry> *entries)
{
    std::string reply;
    const std::string request = WireWriter(Msg::List).str(archive).u32(traits.formats).data();
    if (!WorkerClient::instance().call(request, &reply, cancellable())) {
        *code = SALVO_E_WORKER;
        return false;
    }
    WireReader r(reply);
    *code = static_cast<int>(r.u32());
    *message = r.str();
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
        entries->push_back(std::move(e));
    }
    return r.ok();
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
    const std::string request =
        WireWriter(Msg::Check).str(archive).u32(traits.formats).u32(static_cast<uint32_t>(mode)).data();
    if (!WorkerClient::instance().call(request, &reply, cancellable())) {
        *message = std::string("書庫の検査中に展開処理が異常終了しました: ") + archive + "\n";
        return SALVO_E_WORKER;
    }
    WireReader r(reply);
    const int code = static_cast<int>(r.u32());
    *message = r.str();
    return r.ok() ? code : SALVO_E_INTERNAL;
}

std::string formatListing(const std::vector<Entry> &entries)
{
    std::string out;
    for (const Entry &e : entries)
        out += std::to_string(e.size) + "\t" + e.name + "\n";
    return out;
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

int findFrom(OpenArchiveState *state, SALVO_INDIVIDUALINFO *info)
{
    while (state->next < state->entries.size()) {
        const Entry &e = state->entries[state->next++];
        if (state->wildcard.empty() || matchesName(e.name, state->wildcard)) {
            state->current = &e;
            if (info)
                fill(e, info);
            return 0;
        }
    }
    state->current = nullptr;
    return -1;
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
        std::string message;
        std::vector<Entry> entries;
        fetchListing(traits, command->archive.c_str(), &code, &message, &entries);
        copyOut(code == SALVO_OK ? formatListing(entries) : message, output, outputSize);
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
    std::vector<Entry> entries;
    if (!fetchListing(traits, archive, &code, &message, &entries) || code != SALVO_OK)
        return -1;
    return static_cast<int>(std::min<size_t>(entries.size(), INT32_MAX));
} catch (...) {
    return -1;
}

SALVO_HARC openArchive(const ComponentTraits &traits, SALVO_HWND, const char *archive, uint32_t) try {
    if (!archive)
        return nullptr;
    auto state = std::make_unique<OpenArchiveState>();
    int code = SALVO_OK;
    std::string message;
    fetchListing(traits, archive, &code, &message, &state->entries);
    // A damaged archive still shows the entries read before the damage.
    if (code != SALVO_OK && state->entries.empty())
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
    if (!state || !state->current || !size)
        return -1;
    *size = state->current->size;
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
