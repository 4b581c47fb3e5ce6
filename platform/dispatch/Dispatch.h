#pragma once
// Queues, semaphores, timers and pauses in the shape the system was written against
// (a main queue, global queues by quality of service, asyncAfter, repeating timers).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <semaphore>

namespace dispatch {

using Task = std::function<void()>;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// ---- time ---------------------------------------------------------------------------------
// Every fixed pause and fixed time-out of the system is scaled by this factor. It is read once
// from HVB_TIME_SCALE (a positive real; tests only) and is 1 otherwise.
double timeScale();
void setTimeScale(double scale);  // tests
// A duration of the system's own clock, scaled.
std::chrono::nanoseconds scaled(Millis ms);
// The one way the system pauses: sleeps ms milliseconds times the scale.
void pause(int64_t ms);

// ---- run loop -----------------------------------------------------------------------------
// A thread's loop of posted and delayed tasks. The main run loop is driven by whoever owns the
// main thread: the application's Qt loop (through the wake hook), the driver host or a test.
class RunLoop {
public:
    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    static RunLoop& main();

    void post(Task task);                          // thread-safe, FIFO
    void postAfter(Clock::duration delay, Task task);  // unscaled delay
    // Runs every task that is due now (those posted while running wait for the next call).
    // Returns the number run.
    size_t runPending();
    // Runs tasks until stop() or until `timeout` (real time) has passed.
    void run(Clock::duration timeout = Clock::duration::max());
    // Runs tasks until pred() holds or the timeout passes; returns pred().
    bool runUntil(const std::function<bool()>& pred, Clock::duration timeout);
    void stop();  // thread-safe; ends the innermost run()
    // True on the thread that currently runs (or last ran) this loop.
    bool isCurrentThread() const;
    // Marks the calling thread as this loop's thread (the application's GUI thread at start).
    void adoptCurrentThread();
    // Called (from any thread) whenever a task is posted or a timer becomes due sooner, so an
    // outer event loop can schedule a runPending() call on its own thread.
    void setWakeHook(std::function<void(Clock::time_point nextDue)> hook);
    // Time of the earliest delayed task, or max() when there is none.
    Clock::time_point nextDue() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---- queues -------------------------------------------------------------------------------
class Queue {
public:
    virtual ~Queue() = default;
    virtual void async(Task task) = 0;
    // Runs the task after `delayMs` milliseconds of the system's clock (scaled).
    virtual void asyncAfter(int64_t delayMs, Task task) = 0;
    // Runs the task and waits for it. On the main queue from the main thread it runs at once.
    virtual void sync(Task task) = 0;
    virtual bool isMain() const { return false; }
};

enum class QoS { background, utility, defaultQoS, userInitiated, userInteractive };

Queue& mainQueue();                                  // tasks run on RunLoop::main()
Queue& globalQueue(QoS qos = QoS::defaultQoS);       // concurrent; grows a thread whenever all are busy
bool isMainThread();

// A serial queue: its tasks run one at a time, in the order they were queued, on the global
// queue of its quality of service. Tasks queued before it is destroyed still run.
class SerialQueue final : public Queue {
public:
    explicit SerialQueue(QoS qos = QoS::defaultQoS);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(Task task) override;
    void asyncAfter(int64_t delayMs, Task task) override;
    // Waits for the task's turn and its end; never call it from a task of the same queue.
    void sync(Task task) override;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// ---- semaphores ---------------------------------------------------------------------------
class Semaphore {
public:
    explicit Semaphore(long value);
    void signal();
    void wait();
    // Waits at most `timeoutMs` of the system's clock (scaled); false on time-out.
    bool waitFor(int64_t timeoutMs);

private:
    std::counting_semaphore<> sem_;
};

// ---- timers -------------------------------------------------------------------------------
// A repeating timer whose handler runs on a queue. Created suspended; resume() starts it with
// its first tick one interval later (or after `startDelayMs` when given). cancel() stops it for
// good; a handler already running finishes. Intervals are in the system's clock (scaled).
class Timer : public std::enable_shared_from_this<Timer> {
public:
    static std::shared_ptr<Timer> make(Queue& queue, int64_t intervalMs, Task handler,
                                       int64_t startDelayMs = -1);
    ~Timer();
    void resume();
    void cancel();
    bool isCancelled() const;

private:
    Timer(Queue& queue, int64_t intervalMs, Task handler, int64_t startDelayMs);
    void schedule(int64_t delayMs);
    struct State;
    std::shared_ptr<State> state_;
    Queue& queue_;
    int64_t intervalMs_;
    int64_t startDelayMs_;
};

// While a modal session runs on the main run loop, ticks of timers that stand on the main
// queue are skipped (as the desktop platform does for default-mode timers).
void setModalSessionActive(bool active);
bool modalSessionActive();

// Set by the application's event-loop glue while the GUI loop runs on the main thread: from
// then on, work that blocks the main thread freezes every window.
void setMainEventLoopRunning(bool running);
bool mainEventLoopRunning();

}  // namespace dispatch
