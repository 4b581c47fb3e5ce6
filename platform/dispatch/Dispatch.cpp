#include "platform/dispatch/Dispatch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace dispatch {

namespace {

// Tasks must not throw; one that does is reported and the thread carries on, so one faulty
// task cannot take a worker (or the main loop) down with it.
void runGuarded(const Task& task, const char* where) {
    if (!task) return;
    try {
        task();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[dispatch] uncaught exception in a task on %s: %s\n", where, e.what());
    } catch (...) {
        std::fprintf(stderr, "[dispatch] uncaught exception in a task on %s\n", where);
    }
}

double readScaleFromEnvironment() {
    const char* text = std::getenv("HVB_TIME_SCALE");
    if (!text || !*text) return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0) return 1.0;
    return value;
}

std::atomic<double>& scaleVariable() {
    static std::atomic<double> scale{readScaleFromEnvironment()};
    return scale;
}

bool onInitialThread() { return ::syscall(SYS_gettid) == ::getpid(); }

std::atomic<bool> g_modal{false};

}  // namespace

// ---- time ---------------------------------------------------------------------------------

double timeScale() { return scaleVariable().load(); }

void setTimeScale(double scale) {
    if (!std::isfinite(scale) || scale <= 0) scale = 1.0;
    scaleVariable().store(scale);
}

std::chrono::nanoseconds scaled(Millis ms) {
    if (ms.count() <= 0) return std::chrono::nanoseconds(0);
    double ns = static_cast<double>(ms.count()) * 1e6 * timeScale();
    // Guard against overflow for absurd values: a century is "forever" here.
    constexpr double kMax = 3.15e18;
    if (!(ns < kMax)) ns = kMax;
    return std::chrono::nanoseconds(static_cast<int64_t>(ns));
}

void pause(int64_t ms) {
    if (ms <= 0) return;
    std::this_thread::sleep_for(scaled(Millis(ms)));
}

// ---- run loop -----------------------------------------------------------------------------

struct RunLoop::Impl {
    mutable std::mutex mutex;
    std::condition_variable cv;
    std::deque<Task> posted;
    std::map<std::pair<Clock::time_point, uint64_t>, Task> delayed;
    uint64_t nextSequence = 0;
    int runDepth = 0;
    bool stopRequested = false;
    // Bumped by every post, by a delayed task that is due sooner than the others and by
    // stop(): a waiting run() wakes up and looks again.
    uint64_t changes = 0;
    bool isMainLoop = false;

    std::atomic<bool> hasOwner{false};
    std::atomic<std::thread::id> owner{};

    std::mutex hookMutex;
    std::shared_ptr<std::function<void(Clock::time_point)>> hook;

    void callHook(Clock::time_point due) {
        std::shared_ptr<std::function<void(Clock::time_point)>> h;
        {
            std::lock_guard<std::mutex> lock(hookMutex);
            h = hook;
        }
        if (h && *h) (*h)(due);
    }

    // The main loop belongs to the first thread that runs or adopts it; other loops to the
    // thread that runs them.
    void claim() {
        if (isMainLoop && hasOwner.load()) return;
        owner.store(std::this_thread::get_id());
        hasOwner.store(true);
    }

    // Moves delayed tasks that are due into the posted queue (caller holds the lock).
    void promoteDue(Clock::time_point now) {
        while (!delayed.empty() && delayed.begin()->first.first <= now) {
            posted.push_back(std::move(delayed.begin()->second));
            delayed.erase(delayed.begin());
        }
    }

    Clock::time_point earliest() const {
        return delayed.empty() ? Clock::time_point::max() : delayed.begin()->first.first;
    }
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}
RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
    // Never destroyed: workers may still post to it while the process exits.
    static RunLoop* loop = [] {
        auto* l = new RunLoop();
        l->impl_->isMainLoop = true;
        return l;
    }();
    return *loop;
}

void RunLoop::post(Task task) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->posted.push_back(std::move(task));
        ++impl_->changes;
    }
    impl_->cv.notify_all();
    impl_->callHook(Clock::now());
}

void RunLoop::postAfter(Clock::duration delay, Task task) {
    if (delay <= Clock::duration::zero()) {
        post(std::move(task));
        return;
    }
    Clock::time_point due;
    bool sooner = false;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        Clock::time_point now = Clock::now();
        due = (delay >= Clock::time_point::max() - now) ? Clock::time_point::max() : now + delay;
        sooner = due < impl_->earliest();
        impl_->delayed.emplace(std::make_pair(due, impl_->nextSequence++), std::move(task));
        if (sooner) ++impl_->changes;
    }
    if (sooner) {
        impl_->cv.notify_all();
        impl_->callHook(due);
    }
}

size_t RunLoop::runPending() {
    impl_->claim();
    std::deque<Task> batch;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->promoteDue(Clock::now());
        batch.swap(impl_->posted);
    }
    size_t count = 0;
    while (!batch.empty()) {
        Task task = std::move(batch.front());
        batch.pop_front();
        runGuarded(task, "a run loop");
        ++count;
    }
    return count;
}

void RunLoop::run(Clock::duration timeout) {
    impl_->claim();
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        (timeout >= Clock::time_point::max() - start) ? Clock::time_point::max() : start + timeout;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        ++impl_->runDepth;
        impl_->stopRequested = false;
    }
    for (;;) {
        runPending();
        std::unique_lock<std::mutex> lock(impl_->mutex);
        if (impl_->stopRequested) {
            impl_->stopRequested = false;
            break;
        }
        Clock::time_point now = Clock::now();
        if (now >= deadline) break;
        if (!impl_->posted.empty()) continue;
        Clock::time_point wakeAt = std::min(deadline, impl_->earliest());
        if (wakeAt <= now) continue;
        const uint64_t seen = impl_->changes;
        auto ready = [&] { return impl_->changes != seen; };
        if (wakeAt == Clock::time_point::max()) {
            impl_->cv.wait(lock, ready);
        } else {
            impl_->cv.wait_until(lock, wakeAt, ready);
        }
        if (impl_->stopRequested) {
            impl_->stopRequested = false;
            break;
        }
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    --impl_->runDepth;
}

bool RunLoop::runUntil(const std::function<bool()>& pred, Clock::duration timeout) {
    impl_->claim();
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        (timeout >= Clock::time_point::max() - start) ? Clock::time_point::max() : start + timeout;
    // pred() may turn true through another thread without anything being posted here, so the
    // wait is sliced.
    constexpr auto kSlice = std::chrono::milliseconds(5);
    for (;;) {
        if (pred()) return true;
        runPending();
        if (pred()) return true;
        Clock::time_point now = Clock::now();
        if (now >= deadline) return pred();
        std::unique_lock<std::mutex> lock(impl_->mutex);
        if (!impl_->posted.empty()) continue;
        Clock::time_point wakeAt = std::min({deadline, impl_->earliest(), now + kSlice});
        const uint64_t seen = impl_->changes;
        impl_->cv.wait_until(lock, wakeAt, [&] { return impl_->changes != seen; });
    }
}

void RunLoop::stop() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (impl_->runDepth == 0) return;
        impl_->stopRequested = true;
        ++impl_->changes;
    }
    impl_->cv.notify_all();
    impl_->callHook(Clock::now());
}

bool RunLoop::isCurrentThread() const {
    if (!impl_->hasOwner.load()) return impl_->isMainLoop && onInitialThread();
    return impl_->owner.load() == std::this_thread::get_id();
}

void RunLoop::adoptCurrentThread() {
    impl_->owner.store(std::this_thread::get_id());
    impl_->hasOwner.store(true);
}

void RunLoop::setWakeHook(std::function<void(Clock::time_point nextDue)> hook) {
    std::lock_guard<std::mutex> lock(impl_->hookMutex);
    impl_->hook = hook ? std::make_shared<std::function<void(Clock::time_point)>>(std::move(hook))
                       : nullptr;
}

Clock::time_point RunLoop::nextDue() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->earliest();
}

// ---- delayed delivery to non-main queues --------------------------------------------------

namespace {

// One thread holds every delayed task bound for a global (or other) queue and hands it over
// when due. Never destroyed, like the queues themselves.
class Scheduler {
public:
    static Scheduler& shared() {
        static Scheduler* s = new Scheduler();
        return *s;
    }

    void at(Clock::time_point due, Queue* queue, Task task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!started_) {
                std::thread([this] { loop(); }).detach();
                started_ = true;
            }
            entries_.emplace(std::make_pair(due, sequence_++), Entry{queue, std::move(task)});
        }
        cv_.notify_one();
    }

private:
    struct Entry {
        Queue* queue;
        Task task;
    };

    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (entries_.empty()) {
                cv_.wait(lock, [&] { return !entries_.empty(); });
                continue;
            }
            Clock::time_point due = entries_.begin()->first.first;
            if (Clock::now() < due) {
                cv_.wait_until(lock, due);
                continue;
            }
            Entry entry = std::move(entries_.begin()->second);
            entries_.erase(entries_.begin());
            lock.unlock();
            entry.queue->async(std::move(entry.task));
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::pair<Clock::time_point, uint64_t>, Entry> entries_;
    uint64_t sequence_ = 0;
    bool started_ = false;
};

Clock::time_point dueIn(std::chrono::nanoseconds d) {
    Clock::time_point now = Clock::now();
    if (d >= Clock::time_point::max() - now) return Clock::time_point::max();
    return now + std::chrono::duration_cast<Clock::duration>(d);
}

// ---- queues -------------------------------------------------------------------------------

class MainQueue final : public Queue {
public:
    void async(Task task) override { RunLoop::main().post(std::move(task)); }

    void asyncAfter(int64_t delayMs, Task task) override {
        RunLoop::main().postAfter(scaled(Millis(delayMs)), std::move(task));
    }

    void sync(Task task) override {
        if (RunLoop::main().isCurrentThread()) {
            task();
            return;
        }
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        RunLoop::main().post([done, t = std::move(task)] {
            try {
                t();
                done->set_value();
            } catch (...) {
                done->set_exception(std::current_exception());
            }
        });
        finished.get();
    }

    bool isMain() const override { return true; }
};

// A concurrent pool. A task never waits behind a blocked one: when every thread is busy (or
// blocked in a pause or a semaphore), posting adds a thread. Threads idle for a while retire.
class GlobalQueue final : public Queue {
public:
    explicit GlobalQueue(const char* name) : name_(name) {}

    void async(Task task) override {
        bool spawn = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
            if (tasks_.size() > idle_ + starting_ && threads_ < kMaxThreads) {
                ++threads_;
                ++starting_;
                spawn = true;
            }
        }
        if (spawn) {
            try {
                std::thread([this] { work(); }).detach();
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> lock(mutex_);
                --threads_;
                --starting_;
                std::fprintf(stderr, "[dispatch] cannot start a worker on %s: %s\n", name_, e.what());
            }
        } else {
            cv_.notify_one();
        }
    }

    void asyncAfter(int64_t delayMs, Task task) override {
        Scheduler::shared().at(dueIn(scaled(Millis(delayMs))), this, std::move(task));
    }

    // A concurrent queue runs a synchronous task on the caller's thread.
    void sync(Task task) override { task(); }

private:
    static constexpr size_t kMaxThreads = 512;
    static constexpr auto kIdleRetire = std::chrono::seconds(15);

    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        --starting_;
        for (;;) {
            if (tasks_.empty()) {
                ++idle_;
                bool got = cv_.wait_for(lock, kIdleRetire, [&] { return !tasks_.empty(); });
                --idle_;
                if (!got) {
                    --threads_;
                    return;
                }
            }
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            runGuarded(task, name_);
            task = nullptr;  // captures die outside the lock
            lock.lock();
        }
    }

    const char* name_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Task> tasks_;
    size_t threads_ = 0;
    size_t idle_ = 0;
    size_t starting_ = 0;
};

}  // namespace

Queue& mainQueue() {
    static MainQueue* q = new MainQueue();
    return *q;
}

Queue& globalQueue(QoS qos) {
    static GlobalQueue* queues[] = {
        new GlobalQueue("the background queue"),
        new GlobalQueue("the utility queue"),
        new GlobalQueue("the default queue"),
        new GlobalQueue("the user-initiated queue"),
        new GlobalQueue("the user-interactive queue"),
    };
    auto index = static_cast<size_t>(qos);
    if (index >= sizeof queues / sizeof queues[0]) index = static_cast<size_t>(QoS::defaultQoS);
    return *queues[index];
}

// ---- serial queues ------------------------------------------------------------------------

struct SerialQueue::Impl : std::enable_shared_from_this<SerialQueue::Impl> {
    explicit Impl(QoS q) : qos(q) {}

    void push(Task task) {
        bool start = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            tasks.push_back(std::move(task));
            if (!draining) draining = start = true;
        }
        if (start) globalQueue(qos).async([self = shared_from_this()] { self->drain(); });
    }

    // One worker at a time takes the tasks in order until none is left.
    void drain() {
        for (;;) {
            Task task;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (tasks.empty()) {
                    draining = false;
                    return;
                }
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            runGuarded(task, "a serial queue");
        }
    }

    const QoS qos;
    std::mutex mutex;
    std::deque<Task> tasks;
    bool draining = false;
};

SerialQueue::SerialQueue(QoS qos) : impl_(std::make_shared<Impl>(qos)) {}

SerialQueue::~SerialQueue() = default;

void SerialQueue::async(Task task) {
    if (task) impl_->push(std::move(task));
}

void SerialQueue::asyncAfter(int64_t delayMs, Task task) {
    if (!task) return;
    globalQueue(impl_->qos).asyncAfter(delayMs, [impl = impl_, t = std::move(task)]() mutable { impl->push(std::move(t)); });
}

void SerialQueue::sync(Task task) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    impl_->push([done, t = std::move(task)] {
        try {
            if (t) t();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    });
    finished.get();
}

bool isMainThread() { return RunLoop::main().isCurrentThread(); }

// ---- semaphores ---------------------------------------------------------------------------

Semaphore::Semaphore(long value) : sem_(value < 0 ? 0 : value) {}

void Semaphore::signal() { sem_.release(); }

void Semaphore::wait() { sem_.acquire(); }

bool Semaphore::waitFor(int64_t timeoutMs) {
    if (timeoutMs < 0) {
        sem_.acquire();
        return true;
    }
    if (timeoutMs == 0) return sem_.try_acquire();
    return sem_.try_acquire_for(scaled(Millis(timeoutMs)));
}

// ---- timers -------------------------------------------------------------------------------

namespace {

struct TimerCore {
    std::mutex mutex;
    std::atomic<bool> cancelled{false};
    bool resumed = false;
    std::shared_ptr<Task> handler;
    Queue* queue = nullptr;
    std::chrono::nanoseconds interval{0};
};

void scheduleTick(const std::shared_ptr<TimerCore>& state, Clock::time_point due);

// Queue-agnostic: the main queue keeps its delayed tasks in the main run loop (so an outer
// event loop sees when the next one is due), other queues go through the scheduler.
void deliverAt(Queue& queue, Clock::time_point due, Task task) {
    if (queue.isMain()) {
        Clock::time_point now = Clock::now();
        RunLoop::main().postAfter(due > now ? due - now : Clock::duration::zero(), std::move(task));
    } else {
        Scheduler::shared().at(due, &queue, std::move(task));
    }
}

void tick(const std::shared_ptr<TimerCore>& state, Clock::time_point due) {
    std::shared_ptr<Task> handler;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->cancelled.load()) return;
        handler = state->handler;
    }
    // Default-mode timers on the main run loop do not fire while a modal session runs.
    bool skip = state->queue->isMain() && modalSessionActive();
    if (!skip && handler && *handler && !state->cancelled.load()) runGuarded(*handler, "a timer");
    handler.reset();
    if (state->cancelled.load()) return;
    Clock::time_point next = due + state->interval;
    Clock::time_point now = Clock::now();
    if (next <= now) next = now + state->interval;  // missed ticks are coalesced
    scheduleTick(state, next);
}

void scheduleTick(const std::shared_ptr<TimerCore>& state, Clock::time_point due) {
    deliverAt(*state->queue, due, [state, due] { tick(state, due); });
}

}  // namespace

struct Timer::State : TimerCore {};

std::shared_ptr<Timer> Timer::make(Queue& queue, int64_t intervalMs, Task handler,
                                   int64_t startDelayMs) {
    return std::shared_ptr<Timer>(new Timer(queue, intervalMs, std::move(handler), startDelayMs));
}

Timer::Timer(Queue& queue, int64_t intervalMs, Task handler, int64_t startDelayMs)
    : state_(std::make_shared<State>()),
      queue_(queue),
      intervalMs_(intervalMs),
      startDelayMs_(startDelayMs) {
    state_->handler = std::make_shared<Task>(std::move(handler));
    state_->queue = &queue;
    // A zero interval would spin; the shortest tick is a tenth of a millisecond.
    state_->interval = std::max<std::chrono::nanoseconds>(scaled(Millis(intervalMs)),
                                                          std::chrono::microseconds(100));
}

Timer::~Timer() { cancel(); }

void Timer::resume() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->cancelled.load() || state_->resumed) return;
        state_->resumed = true;
    }
    schedule(startDelayMs_ >= 0 ? startDelayMs_ : intervalMs_);
}

void Timer::schedule(int64_t delayMs) {
    Clock::time_point due = dueIn(delayMs >= 0 ? scaled(Millis(delayMs)) : state_->interval);
    scheduleTick(state_, due);
}

void Timer::cancel() {
    std::shared_ptr<Task> handler;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->cancelled.store(true);
        handler.swap(state_->handler);
    }
    // The handler's captures are released here, outside the lock (or after the running
    // handler returns, when cancel() is called from inside it).
}

bool Timer::isCancelled() const { return state_->cancelled.load(); }

void setModalSessionActive(bool active) { g_modal.store(active); }
bool modalSessionActive() { return g_modal.load(); }

namespace {
std::atomic<bool> g_eventLoopRunning{false};
}
void setMainEventLoopRunning(bool running) { g_eventLoopRunning.store(running); }
bool mainEventLoopRunning() { return g_eventLoopRunning.load(); }

}  // namespace dispatch
