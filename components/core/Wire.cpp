#include "Wire.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace salvo::arc {
namespace {

// Descriptors per sendmsg call: below the kernel's limit of 253.
constexpr size_t kFdsPerCall = 200;

// Sends `n` bytes; the descriptors ride on the first bytes, at most
// kFdsPerCall on each call, so each call sends one byte while more follow.
bool writeAll(int fd, const char *p, size_t n, const int *fds, size_t fdCount)
{
    while (n > 0) {
        const size_t carried = std::min(fdCount, kFdsPerCall);
        const size_t length = carried > 0 && fdCount > carried ? 1 : n;
        iovec iov{const_cast<char *>(p), length};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kFdsPerCall)];
        if (carried > 0) {
            msg.msg_control = control;
            msg.msg_controllen = CMSG_SPACE(sizeof(int) * carried);
            cmsghdr *c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int) * carried);
            std::memcpy(CMSG_DATA(c), fds, sizeof(int) * carried);
        }
        const ssize_t w = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        fds += carried;
        fdCount -= carried;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return fdCount == 0;
}

// Takes the descriptors out of a received control buffer.
void collect(msghdr &msg, FdList *fds)
{
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            UniqueFd owned(received);
            if (fds && fds->size() < kMaxPassedFds)
                fds->push_back(std::move(owned));
        }
    }
}

ReadStatus readAll(int fd, char *p, size_t n, int timeoutMs, FdList *fds)
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
        iovec iov{p, n};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 253)];
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got > 0 || msg.msg_controllen > 0)
            collect(msg, fds);
        if (got <= 0)
            return ReadStatus::Closed;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return ReadStatus::Ok;
}

} // namespace

bool sendMessage(int fd, const std::string &payload, const std::vector<int> &fds)
{
    const uint32_t n = static_cast<uint32_t>(payload.size());
    if (fds.empty())
        return writeAll(fd, reinterpret_cast<const char *>(&n), 4, nullptr, 0)
            && writeAll(fd, payload.data(), payload.size(), nullptr, 0);
    std::string frame(reinterpret_cast<const char *>(&n), 4);
    frame += payload;
    return writeAll(fd, frame.data(), frame.size(), fds.data(), fds.size());
}

ReadStatus readMessage(int fd, std::string *payload, int timeoutMs, FdList *fds)
{
    if (fds)
        fds->clear();
    uint32_t n = 0;
    ReadStatus s = readAll(fd, reinterpret_cast<char *>(&n), 4, timeoutMs, fds);
    if (s != ReadStatus::Ok)
        return s;
    if (n == 0 || n > kMaxMessage)
        return ReadStatus::Invalid;
    payload->resize(n);
    // Once a message has begun, its rest follows without a long pause.
    s = readAll(fd, payload->data(), n, timeoutMs < 0 ? -1 : std::max(timeoutMs, 10000), fds);
    return s;
}

} // namespace salvo::arc
