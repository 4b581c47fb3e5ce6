#pragma once
// A top-level window with a content view controller, and the window controller that owns it.
// Showing and closing a window runs the content controller's appearance hooks.
#include <functional>

#include <QDialog>
#include <QObject>
#include <QPointer>

#include "platform/appkit/ViewController.h"

namespace appkit {

class WindowController;

class Window : public QDialog {
    Q_OBJECT
public:
    explicit Window(ViewController* content = nullptr, QWidget* parent = nullptr);
    ~Window() override;

    ViewController* contentViewController() const { return content_; }
    // Takes the controller as the window's content (the previous one is deleted).
    void setContentViewController(ViewController* content);

    // Shows the window (not modal) with the appearance hooks.
    void makeKeyAndOrderFront();
    // Closes the window: windowWillClose observers, the disappearance hooks, hide. Closing a
    // window that a modal session runs for does not end that session (as on the platform):
    // the caller also calls stopModal or abortModal.
    void performClose();
    bool isVisibleWindow() const { return shown_; }
    // A window without a title. The window system shows the application's name on a window
    // whose title is empty, so a single blank stands for none.
    void setEmptyTitle();
    // Closes as the close button or Escape does: also ends the modal session run for this
    // window when that session is the innermost one.
    void userClose();

    // Called once each time the window is about to close (the window delegate's windowWillClose).
    void setWillCloseHandler(std::function<void()> handler) { willClose_ = std::move(handler); }

    // Marks the start of a showing; used by the modal helpers.
    void aboutToShow();
    void didShow();

    // The window controller that took this window last (its windowWillClose is called), or none.
    WindowController* windowController() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;  // Escape closes like the close button

private:
    friend class WindowController;

    QPointer<ViewController> content_;
    bool shown_ = false;
    bool closing_ = false;
    std::function<void()> willClose_;
    QPointer<QObject> windowController_;
    // Window controllers holding this window; one that a controller made goes away with the
    // last of them.
    int controllerHolds_ = 0;
    bool madeByController_ = false;
};

// A window controller holds its window; a window that a controller built (makeWindow) is
// deleted when the last controller holding it goes away, a window handed in is left alone.
class WindowController : public QObject {
    Q_OBJECT
public:
    // With a window: that window becomes the controller's (initWithWindow:).
    explicit WindowController(Window* window = nullptr, QObject* parent = nullptr);
    ~WindowController() override;

    Window* window();
    void setWindow(Window* window);
    ViewController* contentViewController();

    // Called once, when the window is first asked for (after the content is attached).
    virtual void windowDidLoad() {}
    // The window delegate's windowWillClose.
    virtual void windowWillClose() {}
    // Builds the window when none was given; the default makes an empty one.
    virtual Window* makeWindow();

    void showWindow();
    void close();

private:
    void adopt(Window* window);
    void release();
    QPointer<Window> window_;
    bool loaded_ = false;
};

}  // namespace appkit
