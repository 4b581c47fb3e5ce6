#include "platform/appkit/MainQueueDriver.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include "platform/dispatch/Dispatch.h"

namespace appkit {

namespace {

using dispatch::Clock;

class Driver;

// What the wake hook reaches: the driver while it exists (the hook is called from any thread,
// the driver goes away on the GUI thread with the application).
struct Link {
    std::mutex mutex;
    Driver* driver = nullptr;
};

std::shared_ptr<Link>& currentLink() {
    static std::shared_ptr<Link> link;
    return link;
}

// Lives on the GUI thread. Every wake-up becomes at most one queued call of runNow() (posts
// from a storm of workers collapse into it); runNow() runs what is due and arms the timer for
// the next delayed task. Queued calls and timers are delivered by nested event loops too, so
// the main queue keeps running inside modal sessions.
class Driver : public QObject {
    Q_OBJECT
public:
    Driver(QObject* parent, std::shared_ptr<Link> link) : QObject(parent), link_(std::move(link)) {
        link_->driver = this;
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        // One connection made here, not a call object made by each waking thread: a wake-up
        // then hands Qt nothing of ours to carry across threads.
        connect(this, &Driver::wake, this, &Driver::runNow, Qt::QueuedConnection);
        // Through the queued call rather than straight from the timer: a task that opens a
        // modal session then runs outside the timer's own delivery.
        connect(&timer_, &QTimer::timeout, this, [this] { scheduleRun(); });
    }

    ~Driver() override {
        // First of all, so no wake-up reaches a driver being taken apart.
        std::lock_guard<std::mutex> lock(link_->mutex);
        link_->driver = nullptr;
    }

    // Any thread.
    void scheduleRun() {
        if (runQueued_.exchange(true)) return;
        emit wake();
    }

signals:
    void wake();

private:
    void runNow() {
        // Cleared first: what is posted while the tasks run (or while a task runs a nested
        // loop) asks for another call.
        runQueued_.store(false);
        dispatch::RunLoop::main().runPending();
        arm();
    }

    void arm() {
        const Clock::time_point due = dispatch::RunLoop::main().nextDue();
        if (due == Clock::time_point::max()) {
            timer_.stop();
            return;
        }
        const Clock::time_point now = Clock::now();
        if (due <= now) {
            scheduleRun();
            return;
        }
        if (timer_.isActive() && armedFor_ <= due) return;
        // Rounded up, so the timer never fires before the task is due.
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
        if (wait > INT_MAX) wait = INT_MAX;
        armedFor_ = due;
        timer_.start(static_cast<int>(wait));
    }

    std::shared_ptr<Link> link_;
    QTimer timer_{this};
    std::atomic<bool> runQueued_{false};
    Clock::time_point armedFor_{};
};

}  // namespace

void installMainQueueDriver(QCoreApplication* application) {
    if (!application) return;
    dispatch::RunLoop& loop = dispatch::RunLoop::main();
    loop.adoptCurrentThread();

    if (auto& old = currentLink()) {
        Driver* previous = nullptr;
        {
            std::lock_guard<std::mutex> lock(old->mutex);
            previous = old->driver;
            old->driver = nullptr;
        }
        delete previous;
    }

    auto link = std::make_shared<Link>();
    auto* driver = new Driver(application, link);
    currentLink() = link;

    loop.setWakeHook([link](Clock::time_point) {
        std::lock_guard<std::mutex> lock(link->mutex);
        if (link->driver) link->driver->scheduleRun();
    });
    // Tasks posted before the driver existed.
    driver->scheduleRun();
    // The GUI loop runs from its first turn until the application is about to quit.
    QTimer::singleShot(0, application, [] { dispatch::setMainEventLoopRunning(true); });
    QObject::connect(application, &QCoreApplication::aboutToQuit, application,
                     [] { dispatch::setMainEventLoopRunning(false); });
}

}  // namespace appkit

#include "MainQueueDriver.moc"
