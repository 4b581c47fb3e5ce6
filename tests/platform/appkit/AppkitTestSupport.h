#pragma once
// Controllers that record their life-cycle calls, and hooks that are restored after a test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include "platform/appkit/Application.h"
#include "platform/appkit/ViewController.h"

namespace appkit_test {

using Log = std::vector<std::string>;

// The log outlives the controller, so what a controller did while it was destroyed is seen.
class RecordingController : public appkit::ViewController {
public:
    explicit RecordingController(std::shared_ptr<Log> log = std::make_shared<Log>(), QWidget* parent = nullptr)
        : appkit::ViewController(parent), log(std::move(log)) {}

    void loadView() override {
        log->push_back("loadView");
        if (askForViewWhileLoading) view();
        setMinimumSize(120, 80);
    }
    void viewDidLoad() override { log->push_back("viewDidLoad"); }
    void viewWillAppear() override { log->push_back("viewWillAppear"); }
    void viewDidAppear() override { log->push_back("viewDidAppear"); }
    void viewWillDisappear() override { log->push_back("viewWillDisappear"); }
    void viewDidDisappear() override { log->push_back("viewDidDisappear"); }
    void viewWillLayout() override { ++layouts; }

    std::shared_ptr<Log> log;
    bool askForViewWhileLoading = false;
    int layouts = 0;
};

inline Log appearLog() { return {"viewWillAppear", "viewDidAppear"}; }
inline Log disappearLog() { return {"viewWillDisappear", "viewDidDisappear"}; }
inline Log loadLog() { return {"loadView", "viewDidLoad"}; }
inline Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline void flushDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// Sets the modal-session hook for one test and puts the previous one back.
class ModalHookScope {
public:
    explicit ModalHookScope(appkit::ModalHook hook) : previous_(appkit::setModalSessionHook(std::move(hook))) {}
    ~ModalHookScope() { appkit::setModalSessionHook(std::move(previous_)); }

private:
    appkit::ModalHook previous_;
};

// A session that a fault leaves running fails the test instead of hanging it.
class SessionWatchdog {
public:
    SessionWatchdog() {
        QObject::connect(&timer_, &QTimer::timeout, [] {
            if (appkit::modalSessionDepth() == 0) return;
            ADD_FAILURE() << "a modal session did not end";
            appkit::abortModal();
        });
        timer_.start(20000);
    }

private:
    QTimer timer_;
};

}  // namespace appkit_test
