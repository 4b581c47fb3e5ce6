#pragma once
// The four panels of the right pane, each made once on first use from the storyboard and kept
// for the life of the process, so switching panes keeps each panel's state.
#include "platform/appkit/ViewController.h"

namespace hvb {

class RightViewContainer {
public:
    static appkit::ViewController* statusViewController();
    static appkit::ViewController* settingsViewController();
    static appkit::ViewController* toolViewController();
    static appkit::ViewController* warningPageViewController();
    // How many panels were instantiated so far (tests: panels are made once).
    static int instantiationCount();
};

// Instantiates the controller of `identifier` from the storyboard "Main"; an identifier that
// nothing serves yet gives an empty pane.
appkit::ViewController* instantiateController(const std::string& identifier);

}  // namespace hvb
