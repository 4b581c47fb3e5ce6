#include "platform/foundation/NotificationCenter.h"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

namespace foundation {

namespace {

struct Entry {
    NotificationCenter::Token token = 0;
    std::string name;
    const void* object = nullptr;
    std::shared_ptr<NotificationCenter::Observer> observer;
    // Checked right before each call, so a removal made during delivery (by this observer,
    // by another one, or from another thread) stops calls that have not started yet.
    std::shared_ptr<std::atomic<bool>> live;
};

}  // namespace

struct NotificationCenter::Impl {
    mutable std::mutex mutex;
    Token nextToken = 1;
    // Ordered by token: observers are called in the order they were added.
    std::map<Token, Entry> entries;
};

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may be removed by objects that outlive static destruction.
    static NotificationCenter* center = new NotificationCenter();
    return *center;
}

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer,
                                                          const void* object) {
    Entry entry;
    entry.name = name;
    entry.object = object;
    entry.observer = std::make_shared<Observer>(std::move(observer));
    entry.live = std::make_shared<std::atomic<bool>>(true);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    entry.token = impl_->nextToken++;
    Token token = entry.token;
    impl_->entries.emplace(token, std::move(entry));
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::shared_ptr<Observer> released;  // destroyed after the lock is dropped
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        auto it = impl_->entries.find(token);
        if (it == impl_->entries.end()) return;
        it->second.live->store(false);
        released = std::move(it->second.observer);
        impl_->entries.erase(it);
    }
}

void NotificationCenter::post(const std::string& name, const void* object, std::any userInfo) {
    struct Target {
        std::shared_ptr<Observer> observer;
        std::shared_ptr<std::atomic<bool>> live;
    };
    std::vector<Target> targets;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        for (const auto& [token, entry] : impl_->entries) {
            if (entry.name != name) continue;
            if (entry.object != nullptr && entry.object != object) continue;
            targets.push_back({entry.observer, entry.live});
        }
    }
    if (targets.empty()) return;
    Notification notification{name, object, std::move(userInfo)};
    // Called without the lock: an observer may post, add or remove observers.
    for (const auto& target : targets) {
        if (!target.live->load()) continue;
        if (*target.observer) (*target.observer)(notification);
    }
}

size_t NotificationCenter::observerCount(const std::string& name) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    size_t count = 0;
    for (const auto& [token, entry] : impl_->entries) {
        if (entry.name == name) ++count;
    }
    return count;
}

}  // namespace foundation
