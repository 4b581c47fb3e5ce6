#include "platform/foundation/PollWaker.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace foundation {

PollWaker::PollWaker() {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
}

PollWaker::~PollWaker() {
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

PollWaker::Result PollWaker::wait(int fd, int timeoutMs) {
    if (!ok()) return Result::failed;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {pipe_[0], POLLIN, 0}};
        const int rc = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return Result::failed;
        }
        if (rc == 0) return Result::timedOut;
        if (fds[1].revents) return Result::woken;
        if (fds[0].revents & POLLIN) return Result::readable;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return Result::failed;
    }
}

void PollWaker::wake() {
    if (pipe_[1] < 0) return;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(pipe_[1], &byte, 1);
}

}  // namespace foundation
