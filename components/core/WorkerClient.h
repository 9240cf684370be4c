#pragma once
// The component's end of its decoder process: started on first use, kept for
// the next calls, restarted when it died, killed when it stops answering.
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace salvo::arc {

class WorkerClient {
public:
    // Longest silence of the decoder before it counts as hung.
    static constexpr int kSilenceLimitMs = 60000;

    static WorkerClient &instance();
    ~WorkerClient();

    // Sends a request and returns the final answer. Ask messages are answered
    // through `ask` on the way. False when the decoder failed, died or hung
    // (it is then stopped and the next call starts a new one).
    bool call(const std::string &request, std::string *reply,
              const std::function<int(const std::string &path)> &ask);

private:
    WorkerClient() = default;
    bool start();
    void stop();

    std::mutex m_mutex;
    pid_t m_pid = -1;
    int m_fd = -1;
};

} // namespace salvo::arc
