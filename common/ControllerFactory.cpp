#include "common/ControllerFactory.h"

namespace hvb {

ControllerFactory& ControllerFactory::shared() {
    static ControllerFactory* factory = new ControllerFactory();
    return *factory;
}

void ControllerFactory::registerController(const std::string& className, Maker maker) {
    std::lock_guard<std::mutex> guard(lock_);
    if (maker) makers_[className] = std::move(maker);
    else makers_.erase(className);
}

void ControllerFactory::registerEditViewController(EditMaker maker) {
    std::lock_guard<std::mutex> guard(lock_);
    editMaker_ = std::move(maker);
}

appkit::ViewController* ControllerFactory::make(const std::string& className) const {
    Maker maker;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = makers_.find(className);
        if (it == makers_.end()) return nullptr;
        maker = it->second;
    }
    return maker();
}

appkit::ViewController* ControllerFactory::makeEditViewController(const StatusModel& status,
                                                                  EditViewControllerDelegate* delegate) const {
    EditMaker maker;
    {
        std::lock_guard<std::mutex> guard(lock_);
        maker = editMaker_;
    }
    return maker ? maker(status, delegate) : nullptr;
}

}  // namespace hvb
