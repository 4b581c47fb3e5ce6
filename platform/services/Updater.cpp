#include "platform/services/Updater.h"

namespace services {
namespace {

std::atomic<Updater*>& sharedSlot() {
    static std::atomic<Updater*> slot{nullptr};
    return slot;
}

}  // namespace

Updater::~Updater() {
    // An updater that goes away never stays reachable through shared().
    Updater* self = this;
    sharedSlot().compare_exchange_strong(self, nullptr);
}

Updater* Updater::shared() { return sharedSlot().load(); }

void Updater::setShared(Updater* updater) { sharedSlot().store(updater); }

}  // namespace services
