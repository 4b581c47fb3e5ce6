// Holds an abstract socket name the way a process that is no toolbox might: "bound" binds it
// and never listens; "full" listens with a queue that one waiting connection fills. Prints
// "ready" once it holds the name that way, then waits to be ended.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s NAME bound|full\n", argv[0]);
        return 2;
    }
    const std::string name = std::string(1, '\0') + argv[1], mode = argv[2];
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() > sizeof address.sun_path) return 2;
    std::memcpy(address.sun_path, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    auto connectWithoutWaiting = [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        return fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    };
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        std::perror("bind");
        return 1;
    }
    if (mode == "full") {
        if (::listen(fd, 0) != 0 || !connectWithoutWaiting()) {
            std::perror("listen");
            return 1;
        }
        if (connectWithoutWaiting() || errno != EAGAIN) {
            std::fprintf(stderr, "the queue is not full\n");
            return 1;
        }
    } else if (mode != "bound") {
        return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) ::pause();
}
