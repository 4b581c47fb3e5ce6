#pragma once
// The stoppable wait of a reading thread: blocks until a descriptor has something to read or
// another thread calls wake(). A pipe carries the wake-up, so it is never lost.
namespace foundation {

class PollWaker {
public:
    PollWaker();  // ok() is false when no pipe could be made
    ~PollWaker();
    PollWaker(const PollWaker&) = delete;
    PollWaker& operator=(const PollWaker&) = delete;

    bool ok() const { return pipe_[0] >= 0; }

    enum class Result { readable, woken, failed, timedOut };
    // Until `fd` is readable, wake() has been called (it stays woken), or polling fails or the
    // descriptor reports an error, or `timeoutMs` has passed (negative: no limit). Interrupted
    // waits go on.
    Result wait(int fd, int timeoutMs = -1);
    // From any thread.
    void wake();

private:
    int pipe_[2] = {-1, -1};
};

}  // namespace foundation
