#include "KeepAlive.h"

#include <chrono>

namespace salvo::arc {

AliveDuring::AliveDuring(const AliveFn &alive)
{
    if (!alive)
        return;
    m_thread = std::thread([this, &alive] {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_done; })) {
            lock.unlock();
            alive();
            lock.lock();
        }
    });
}

AliveDuring::~AliveDuring()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace salvo::arc
