#pragma once
// The About page: the version line, the legal notice, the statement document and a close button
// with a hover look. It can also take the latest version out of a version document.
#include <functional>
#include <optional>

#include <QPointer>
#include <QUrl>

#include "platform/appkit/ViewController.h"

class QLabel;
class QPushButton;

namespace hvb {

class AppDelegate;

class About : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr const char* kVersionElement = "HalvetorMACToolSWversion";
    static constexpr const char* kLatestVersionFound = "LATEST_VERSION_FOUND";

    explicit About(QWidget* parent = nullptr);
    ~About() override;

    QPointer<QLabel> Copyright;
    QPointer<QLabel> CurrentVersionField;
    QPointer<QLabel> versionInfo;
    QPointer<QPushButton> okBtn;
    std::optional<QString> element;
    std::optional<QString> latestVersion;
    AppDelegate* delegate = nullptr;

    void loadView() override;
    void viewWillAppear() override;
    void viewWillLayout() override;
    void viewWillDisappear() override;

    void mouseEntered();
    void mouseExited();
    // Whether the close button shows its hover look (tests, screens).
    bool okButtonHighlighted() const { return okHighlighted_; }

    void closeAbout();
    void openFileWithSender();

    // The version document's parser callbacks.
    void parserDidStartElement(const QString& elementName);
    void parserFoundCharacters(const QString& characters);
    void parserDidEndElement(const QString& elementName);

    // How the statement document is shown; tests replace it. Returns the previous opener.
    using Opener = std::function<bool(const QUrl&)>;
    static Opener setDocumentOpener(Opener opener);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyButtonLook();
    bool okHighlighted_ = false;
};

}  // namespace hvb
