#include "platform/appkit/Alert.h"

#include <mutex>

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/appkit/Application.h"
#include "platform/appkit/ModalSessions.h"
#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Log.h"

namespace appkit {

namespace {

std::mutex& responderMutex() {
    static std::mutex m;
    return m;
}
Alert::Responder& currentResponder() {
    static Alert::Responder responder;
    return responder;
}

// The alert's content: the message in bold, the informative text below it, then the buttons.
// Texts may come from a camera or the web, so every label shows plain text.
class AlertView : public ViewController {
public:
    AlertView(QString message, QString informative, QStringList buttons)
        : message_(std::move(message)), informative_(std::move(informative)), buttons_(std::move(buttons)) {
        setObjectName("AlertView");
    }

    void loadView() override {
        setMinimumWidth(360);
        auto* outer = new QVBoxLayout(this);
        outer->setContentsMargins(20, 18, 20, 14);
        outer->setSpacing(10);
        auto* message = new QLabel(this);
        message->setObjectName("messageText");
        message->setTextFormat(Qt::PlainText);
        message->setWordWrap(true);
        QFont bold = message->font();
        bold.setBold(true);
        message->setFont(bold);
        message->setText(message_);
        outer->addWidget(message);
        auto* informative = new QLabel(this);
        informative->setObjectName("informativeText");
        informative->setTextFormat(Qt::PlainText);
        informative->setWordWrap(true);
        informative->setText(informative_);
        informative->setVisible(!informative_.isEmpty());
        outer->addWidget(informative);
        auto* row = new QHBoxLayout();
        row->addStretch(1);
        // As the platform lays an alert out: the first button on the right, the others to its
        // left in order.
        for (int i = static_cast<int>(buttons_.size()) - 1; i >= 0; --i) {
            auto* button = new QPushButton(buttons_[i], this);
            button->setObjectName(QStringLiteral("alertButton%1").arg(i));
            if (i == 0) button->setDefault(true);
            connect(button, &QPushButton::clicked, this, [this, i] { choose(i); });
            row->addWidget(button);
        }
        outer->addLayout(row);
    }

    void viewDidAppear() override {
        if (auto* first = findChild<QPushButton*>(QStringLiteral("alertButton0"))) first->setFocus();
    }

private:
    void choose(int index) {
        if (Window* window = hostWindow()) window->performClose();
        stopModalWithCode(NSAlertFirstButtonReturn + index);
    }

    QString message_;
    QString informative_;
    QStringList buttons_;
};

}  // namespace

int Alert::runModal() const {
    Responder responder;
    {
        std::lock_guard<std::mutex> lock(responderMutex());
        responder = currentResponder();
    }
    if (responder) return responder(*this);
    if (!detail::onGuiThread()) {
        foundation::systemLog("appkit: Alert.runModal called off the main thread");
        return NSModalResponseAbort;
    }

    QStringList titles = buttons;
    if (titles.isEmpty()) titles << QCoreApplication::translate("appkit::Alert", "OK");
    QPointer<Window> window = new Window(new AlertView(messageText, informativeText, titles));
    // An alert has no title of its own; left empty, the window system would show the
    // application's name there.
    window->setEmptyTitle();
    const int code = runModalForWindow(window);
    if (window) {
        window->performClose();
        delete window.data();
    }
    return code;
}

Alert::Responder Alert::setResponder(Responder responder) {
    std::lock_guard<std::mutex> lock(responderMutex());
    Responder previous = std::move(currentResponder());
    currentResponder() = std::move(responder);
    return previous;
}

}  // namespace appkit
