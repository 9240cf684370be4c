#pragma once
// The component's end of its decoder processes: started on first use, kept for
// the next calls, restarted when one died, killed when it stops answering.
// Each call has a decoder of its own for as long as it runs, and no lock is
// held while a call waits or asks: a second call made meanwhile (from another
// thread, or from within an overwrite question) is served by another decoder.
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
    // Where an extraction writes (see Msg::Staging).
    std::function<void(const std::string &staging)> staging;
    // Looked at while the call waits: true ends it (the decoder is stopped).
    std::function<bool()> cancelled;
};

class WorkerClient {
public:
    // Longest silence of the decoder before it counts as hung.
    static constexpr int kSilenceLimitMs = 60000;
    // Idle decoders kept for the next calls.
    static constexpr size_t kIdleKept = 1;
    // How often a waiting call looks at its cancel hook.
    static constexpr int kCancelLookMs = 50;

    static WorkerClient &instance();
    ~WorkerClient();

    // Sends a request and returns the final answer. False when the decoder
    // failed, died or hung, or when the call was cancelled (`*cancelled` then
    // set); the decoder is then stopped and the next call starts another.
    bool call(const std::string &request, std::string *reply, const CallHooks &hooks = {},
              bool *cancelled = nullptr);

private:
    struct Worker {
        pid_t pid = -1;
        int fd = -1;
    };
    WorkerClient() = default;
    static bool start(Worker *w);
    static void stop(Worker *w);
    Worker take();
    void giveBack(Worker w);

    std::mutex m_mutex; // guards m_idle only
    std::vector<Worker> m_idle;
};

} // namespace salvo::arc
