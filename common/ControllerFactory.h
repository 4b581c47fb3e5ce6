#pragma once
// The dialogs that are made in code rather than taken from the storyboard (the edit sheet, the
// storage-mode recovery message, the webcam test), by class name. The module that builds a
// dialog registers its maker at start-up; until then asking for it gives nothing.
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "camera/StatusModel.h"
#include "platform/appkit/ViewController.h"

namespace hvb {

class EditViewControllerDelegate;

class ControllerFactory {
public:
    using Maker = std::function<appkit::ViewController*()>;
    // EditViewController(status:) with its delegate set.
    using EditMaker = std::function<appkit::ViewController*(const StatusModel&, EditViewControllerDelegate*)>;

    static ControllerFactory& shared();

    void registerController(const std::string& className, Maker maker);
    void registerEditViewController(EditMaker maker);

    // A fresh controller, or nullptr when no maker is registered.
    appkit::ViewController* make(const std::string& className) const;
    appkit::ViewController* makeEditViewController(const StatusModel& status,
                                                   EditViewControllerDelegate* delegate) const;

private:
    mutable std::mutex lock_;
    std::map<std::string, Maker> makers_;
    EditMaker editMaker_;
};

}  // namespace hvb
