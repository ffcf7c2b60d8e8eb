// The clipboard's bytes through pipes, never blocking the loop: a send
// writes as the reader takes them; a receive reads to the end of the pipe,
// or gives up after a second in which nothing came.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "unix/loop.h"
#include "unix/wayland/wl_internal.h"

namespace {

constexpr int32_t SILENCE_MS = 1000;

struct Outgoing {
    std::string data;
    size_t offset = 0;
};
std::map<int, Outgoing> sends;

struct Incoming {
    int fd = -1;
    std::string data;
    int64_t lastMs = 0;
    void (*done)(const std::string*) = nullptr;
};
Incoming incoming;

void endSend(int fd)
{
    epForget(fd);
    close(fd);
    sends.erase(fd);
}

void onWritable(int fd, uint32_t, void*)
{
    auto it = sends.find(fd);
    if (it == sends.end()) return;
    Outgoing& out = it->second;
    while (out.offset < out.data.size()) {
        const ssize_t n = write(fd, out.data.data() + out.offset, out.data.size() - out.offset);
        if (n > 0) {
            out.offset += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        break;  // the reader went away
    }
    endSend(fd);
}

void finishReceive(bool ok)
{
    if (incoming.fd < 0) return;
    epForget(incoming.fd);
    close(incoming.fd);
    incoming.fd = -1;
    void (*done)(const std::string*) = incoming.done;
    std::string data;
    data.swap(incoming.data);
    if (done) done(ok ? &data : nullptr);
}

void onReadable(int fd, uint32_t, void*)
{
    char block[65536];
    for (;;) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n > 0) {
            incoming.lastMs = nowMs();
            if (incoming.data.size() + static_cast<size_t>(n) > TRANSFER_MAX) {
                finishReceive(false);
                return;
            }
            incoming.data.append(block, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        finishReceive(n == 0);
        return;
    }
}

}  // namespace

void transferSend(int fd, const std::string& data)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    sends[fd] = Outgoing{data, 0};
    epWatch(fd, EPOLLOUT, onWritable, nullptr);
    onWritable(fd, EPOLLOUT, nullptr);
}

void transferReceive(int fd, void (*done)(const std::string* data))
{
    transferCancelReceive();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    incoming.fd = fd;
    incoming.done = done;
    incoming.data.clear();
    incoming.lastMs = nowMs();
    epWatch(fd, EPOLLIN, onReadable, nullptr);
}

void transferCancelReceive()
{
    if (incoming.fd < 0) return;
    incoming.done = nullptr;
    finishReceive(false);
}

int32_t transferWaitMs()
{
    if (incoming.fd < 0) return -1;
    const int64_t left = incoming.lastMs + SILENCE_MS - nowMs();
    return left < 0 ? 0 : static_cast<int32_t>(left);
}

void transferTimeouts()
{
    if (incoming.fd >= 0 && nowMs() - incoming.lastMs >= SILENCE_MS) finishReceive(false);
}
