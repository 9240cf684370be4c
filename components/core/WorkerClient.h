#pragma once
// The component's end of its decoder processes: started on first use, kept for
// the next calls, restarted when one died, killed when it stops answering.
// Each call has its decoders to itself for as long as it runs, and no lock is
// held while a call waits or asks: a second call made meanwhile (from another
// thread, or from within an overwrite question) is served by other decoders.
#include "Descriptors.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace salvo::arc {

// What a call does with the messages that come before its answer.
struct CallHooks {
    // An existing file would be replaced: returns a SALVO_ANSWER_*.
    std::function<int(const std::string &path)> ask;
    // An encrypted entry needs a password (`retry`: the one before was wrong):
    // true with the password, false to give up.
    std::function<bool(bool retry, std::string *password)> password;
    // Where an extraction writes (see Msg::Staging): the staging folder's
    // name, the folders made for the output folder, and their descriptors.
    std::function<void(const std::string &staging, std::vector<std::string> made, FdList fds)> staging;
    // Looked at while the call waits: true ends it (the decoder is stopped).
    std::function<bool()> cancelled;
    // How far an extraction has come (see Msg::Progress).
    std::function<void(const std::string &entry, int64_t written, int64_t read, int64_t archiveSize)> progress;
    // A write put its new archive in the old one's place (see Msg::Replaced).
    std::function<void()> replaced;
};

class WorkerClient {
public:
    // Longest silence of the decoder before it counts as hung: 60 s, or
    // $SALVO_DECODER_SILENCE_MS (1 s to 10 min) for slow machines and tests.
    static constexpr int kSilenceLimitMs = 60000;
    static int silenceLimitMs();
    // Idle decoders kept for the next calls: as many as one shared extraction uses.
    static constexpr size_t kIdleKept = 4;
    // How often a waiting call looks at its cancel hook.
    static constexpr int kCancelLookMs = 50;

    // One decoder process and the socket to it.
    struct Decoder {
        pid_t pid = -1;
        int fd = -1;
        bool running() const { return pid > 0; }
    };

    static WorkerClient &instance();
    ~WorkerClient();

    // Sends a request and returns the final answer. False when the decoder
    // failed, died or hung, or when the call was cancelled (`*cancelled` then
    // set); the decoder is then stopped and the next call starts another.
    bool call(const std::string &request, std::string *reply, const CallHooks &hooks = {},
              bool *cancelled = nullptr, const std::vector<int> &fds = {});

    // The pieces of a call, for a call that talks to several decoders.
    // A decoder for the caller alone: an idle one, or a new one.
    Decoder take();
    // Sends a request with the descriptors it passes; a kept decoder that has
    // died since is replaced once.
    static bool send(Decoder *d, const std::string &request, const std::vector<int> &fds = {});
    // Reads messages until the answer to the request, serving those before it;
    // false (and `*cancelled` set when that was why) as `call`.
    static bool await(Decoder *d, std::string *reply, const CallHooks &hooks, bool *cancelled = nullptr);
    // Serves a message that comes before an answer (kept alive, staging,
    // question), with the descriptors that came with it; false when `message`
    // is no such message, or the answer to a question could not be sent (`failed`).
    static bool serve(Decoder *d, const std::string &message, FdList fds, const CallHooks &hooks, bool *failed);
    // Keeps a decoder that finished its request for the next call.
    void giveBack(Decoder d);
    // Ends a decoder and whatever it started for its request, and returns
    // only once none of them can write anything any more.
    static void stop(Decoder *d);

private:
    WorkerClient() = default;
    static bool start(Decoder *d);

    std::mutex m_mutex; // guards m_idle only
    std::vector<Decoder> m_idle;
};

} // namespace salvo::arc
