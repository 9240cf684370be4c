#include "Wire.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

bool writeAll(int fd, const char *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

ReadStatus readAll(int fd, char *p, size_t n, int timeoutMs)
{
    while (n > 0) {
        if (timeoutMs >= 0) {
            pollfd pfd{fd, POLLIN, 0};
            const int r = ::poll(&pfd, 1, timeoutMs);
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0)
                return ReadStatus::TimedOut;
            if (r < 0)
                return ReadStatus::Closed;
        }
        const ssize_t got = ::read(fd, p, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return ReadStatus::Closed;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return ReadStatus::Ok;
}

} // namespace

bool sendMessage(int fd, const std::string &payload)
{
    const uint32_t n = static_cast<uint32_t>(payload.size());
    return writeAll(fd, reinterpret_cast<const char *>(&n), 4) && writeAll(fd, payload.data(), payload.size());
}

ReadStatus readMessage(int fd, std::string *payload, int timeoutMs)
{
    uint32_t n = 0;
    ReadStatus s = readAll(fd, reinterpret_cast<char *>(&n), 4, timeoutMs);
    if (s != ReadStatus::Ok)
        return s;
    if (n == 0 || n > kMaxMessage)
        return ReadStatus::Invalid;
    payload->resize(n);
    // Once a message has begun, its rest follows without a long pause.
    s = readAll(fd, payload->data(), n, timeoutMs < 0 ? -1 : std::max(timeoutMs, 10000));
    return s;
}

} // namespace salvo::arc
