#pragma once
// What the left list asks of the right pane, and the one process-wide slot that holds it.
#include <QPointer>
#include <QWidget>

namespace hvb {

class LeftSplitViewDelegate {
public:
    virtual ~LeftSplitViewDelegate() = default;
    // Shows `view` as the only content of the right pane.
    virtual void replaceRightView(QWidget* view) = 0;
};

}  // namespace hvb
