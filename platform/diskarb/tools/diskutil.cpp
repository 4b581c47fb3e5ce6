// The "diskutil" commands the system runs: "diskutil mount <disk, node or folder>" and
// "diskutil umount <folder, disk or node>". Each target is one argument, never a shell line.
#include <cstdio>
#include <string>

#include "platform/diskarb/DiskArbitration.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: diskutil mount|umount|unmount <disk|node|folder>\n");
        return 64;
    }
    std::string verb = argv[1];
    diskarb::Outcome outcome;
    if (verb == "mount") {
        outcome = diskarb::mount(argv[2]);
    } else if (verb == "umount" || verb == "unmount") {
        outcome = diskarb::unmount(argv[2]);
    } else {
        std::fprintf(stderr, "diskutil: unknown verb %s\n", verb.c_str());
        return 64;
    }
    std::string message = outcome.message;
    if (!message.empty() && message.back() != '\n') message.push_back('\n');
    std::fputs(message.c_str(), outcome.ok ? stdout : stderr);
    return outcome.ok ? 0 : 1;
}
