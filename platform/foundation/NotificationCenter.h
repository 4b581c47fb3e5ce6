#pragma once
// Name-keyed notifications posted synchronously to observers, on the poster's thread.
#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace foundation {

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender, compared by address only
    std::any userInfo;
};

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();

    // `object`, when given, restricts delivery to posts from that sender.
    Token addObserver(const std::string& name, Observer observer, const void* object = nullptr);
    // Safe at any time, also from within an observer during delivery: a removed observer
    // receives nothing after removeObserver returns (unless it is the one running now).
    void removeObserver(Token token);
    void post(const std::string& name, const void* object = nullptr, std::any userInfo = {});
    size_t observerCount(const std::string& name) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace foundation
