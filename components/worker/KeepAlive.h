#pragma once
// The keep-alive during a blocking call that cannot tick by itself: an fsync
// on slow storage, a copy done by the kernel. A thread of its own says the
// decoder is alive twice a second while the call runs. Only calls that are
// sure to end go under it, so a decoder that truly hangs is still found out.
#include "Operations.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace salvo::arc {

class AliveDuring {
public:
    // `alive` may be empty (nothing is sent); it must be safe to call from
    // another thread.
    explicit AliveDuring(const AliveFn &alive);
    ~AliveDuring();
    AliveDuring(const AliveDuring &) = delete;
    AliveDuring &operator=(const AliveDuring &) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

} // namespace salvo::arc
