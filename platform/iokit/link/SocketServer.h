#pragma once
// The driver host's side of the socket link: it admits peers by their credentials and serves
// each one with an EmbeddedLink of its own over this process's kernel layer. Requests run on
// workers, so a command that blocks for its 30 s holds up the peer's other calls for no more
// than a moment (a standby reader takes over) and no other peer; notifications go out as they
// fire. A peer that sends anything malformed or
// oversized is dropped, and a peer that goes away gets clientDied for each connection it had.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/iokit/kern/IOTypes.h"

namespace iokit {

// "<system root>/run/halvetor/iokit.sock".
std::filesystem::path defaultSocketPath();

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Who may use the host: root and the members of a group, or in a sandbox root that belongs to
// a user, that user alone.
struct AdmissionPolicy {
    bool admitRoot = true;
    std::optional<gid_t> group;
    std::optional<uid_t> owner;  // set: only this user

    // The policy for a system root: a root other than "/" owned by a user other than root is
    // that user's sandbox; otherwise root and the named group (when it exists).
    static AdmissionPolicy forSystemRoot(const std::filesystem::path& systemRoot, const std::string& groupName);
    bool admits(const PeerCredentials& peer) const;
};

class SocketServer {
public:
    // A control request ("plug", "unplug", ...); answers a result code and a text.
    using ControlHandler = std::function<IOReturn(const std::vector<std::string>& arguments, std::string* reply)>;

    struct Options {
        std::filesystem::path socketPath;
        AdmissionPolicy policy;
        ControlHandler control;
        // A user's processes share far fewer slots than the table has, so that one user's
        // crowd of peers (a few dozen that watch and ping) leaves room for the application of
        // that same user, and for other users, without anybody being pushed out.
        size_t maxClients = 256;
        size_t maxClientsPerUser = 96;
        size_t maxClientsPerProcess = 8;
        // A peer that has held no open connection and no notification and sent nothing for this
        // long (system clock) is idle: the first to make room when every slot is taken, and the
        // only kind a process or a user at its own limit may give up.
        int64_t idleBeforeDropMs = 2000;
        size_t maxCallsInFlight = 64;   // per peer; more means a misbehaving peer
        size_t maxQueuedBytes = 2u << 20;  // per peer, waiting to be sent (with their bookkeeping)
        // The time the lines about refused peers are rated by (null: the steady clock).
        std::function<dispatch::Clock::time_point()> clock;
    };

    explicit SocketServer(Options options);
    ~SocketServer();  // stop()
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Binds and listens. Refuses (false, with the reason) when another host answers on the
    // socket; a stale socket file is replaced.
    bool start(std::string* error);
    void stop();
    size_t clientCount() const;

    // What the peers hold in this process right now (peers that have gone are let go first).
    struct Stats {
        size_t peers = 0;        // admitted and not yet let go, those being dropped included
        size_t queuedBytes = 0;  // waiting to be sent, bookkeeping included
        size_t handles = 0;      // objects and connections the peers hold
    };
    Stats stats() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace iokit
