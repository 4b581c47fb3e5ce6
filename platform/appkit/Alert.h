#pragma once
// A modal alert: a message, an informative text and buttons; runModal returns 1000 for the
// first button, 1001 for the second, and so on.
#include <functional>
#include <QString>
#include <QStringList>

namespace appkit {

class Alert {
public:
    QString messageText;
    QString informativeText;
    QStringList buttons;  // none given: one "OK"

    void addButtonWithTitle(const QString& title) { buttons << title; }
    // Shows the alert in its own modal session (timers of the main run loop skip meanwhile).
    int runModal() const;

    // Tests: answers alerts without showing them; the responder gets the alert and returns the
    // code runModal gives. Returns the previous responder.
    using Responder = std::function<int(const Alert&)>;
    static Responder setResponder(Responder responder);
};

}  // namespace appkit
