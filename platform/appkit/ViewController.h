#pragma once
// A view controller: a widget whose life-cycle hooks are called explicitly by whoever shows or
// hides it (the pane switch, the window and dialog helpers), never from Qt's show and hide
// events, which also fire on minimise and restore.
#include <QPointer>
#include <QString>
#include <QWidget>

namespace appkit {

class Window;

class ViewController : public QWidget {
    Q_OBJECT
public:
    explicit ViewController(QWidget* parent = nullptr);
    ~ViewController() override;

    // The controller's view: itself, loaded on first use (loadView, then viewDidLoad, once).
    QWidget* view();
    bool isViewLoaded() const { return viewLoaded_; }
    // True between the appearance and the disappearance that the helpers below report.
    bool isAppeared() const { return appeared_; }

    // Builds the widgets; the default builds nothing.
    virtual void loadView() {}
    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}
    virtual void viewWillLayout() {}

    // The title a window hosting this controller shows (NSViewController.title).
    QString title() const { return title_; }
    void setTitle(const QString& title) { title_ = title; }

    // The window this controller's view is in (the nearest appkit::Window above it), or none.
    Window* hostWindow() const;

    // Reports an appearance or a disappearance to the controller: will, then (once the caller has
    // shown or hidden the view) did. A second appearance without a disappearance in between is
    // ignored, so observers are never registered twice.
    void beginAppearance();
    void endAppearance();
    void beginDisappearance();
    void endDisappearance();

    // Presents `controller` as an application-modal window and returns at once
    // (presentViewControllerAsModalWindow). The window closes when the presented controller
    // calls dismissController or its window is closed; it is then deleted (later), and the
    // presented controller with it.
    void presentViewControllerAsModalWindow(ViewController* controller);
    // Closes the window that presents this controller (nothing when it was not presented).
    void dismissController();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ensureLoaded();
    bool viewLoaded_ = false;
    bool loading_ = false;
    bool appeared_ = false;
    bool appearing_ = false;
    bool disappearing_ = false;
    QString title_;
    // The window that presents this controller (presentViewControllerAsModalWindow).
    QPointer<QWidget> presentation_;
};

}  // namespace appkit
