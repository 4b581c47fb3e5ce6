#include "platform/appkit/Storyboard.h"

namespace appkit {

Storyboard& Storyboard::main() {
    // Never destroyed: controllers may be asked for while the process exits.
    static Storyboard* storyboard = new Storyboard();
    return *storyboard;
}

void Storyboard::registerController(const std::string& identifier, Factory factory) {
    std::lock_guard<std::mutex> lock(lock_);
    if (factory) {
        factories_[identifier] = std::move(factory);
    } else {
        factories_.erase(identifier);
    }
}

bool Storyboard::contains(const std::string& identifier) const {
    std::lock_guard<std::mutex> lock(lock_);
    return factories_.count(identifier) != 0;
}

QObject* Storyboard::instantiateControllerWithIdentifier(const std::string& identifier) const {
    Factory factory;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = factories_.find(identifier);
        if (it == factories_.end()) return nullptr;
        factory = it->second;
    }
    // Outside the lock: a controller's construction may instantiate others.
    return factory();
}

}  // namespace appkit
