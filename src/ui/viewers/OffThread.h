#pragma once
// Runs a piece of work on a thread of its own while the window's thread keeps
// painting and answering the questions the work asks (message boxes, the
// overwrite question), but takes no input; returns the work's result. The
// thread is joined before the call returns.
#include <QCoreApplication>

#include <atomic>
#include <optional>
#include <thread>

namespace salvo {

template <typename Work>
auto runOffThread(Work work) -> decltype(work())
{
    std::optional<decltype(work())> result;
    std::atomic<bool> done{false};
    std::thread thread([&] {
        result.emplace(work());
        done = true;
        // Wakes the waiting loop below.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    thread.join();
    return std::move(*result);
}

} // namespace salvo
