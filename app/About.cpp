#include "app/About.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppDelegate.h"
#include "common/DesktopOpener.h"
#include "common/LinkButton.h"
#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"

namespace hvb {

namespace {
About::Opener& documentOpener() {
    static About::Opener opener = [](const QUrl& url) {
        // The opener's answer comes later; a document that did not open is said then.
        desktopopener::open(url.toLocalFile().toStdString(), LocalizedString::Str::error());
        return true;
    };
    return opener;
}
}  // namespace

About::Opener About::setDocumentOpener(Opener opener) {
    Opener previous = std::move(documentOpener());
    documentOpener() = std::move(opener);
    return previous;
}

About::About(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("About");
    delegate = AppDelegate::shared();
}

About::~About() = default;

void About::loadView() {
    setFixedSize(420, 300);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 20);
    layout->setSpacing(10);
    auto* logo = new QLabel(this);
    logo->setAlignment(Qt::AlignCenter);
    logo->setPixmap(appkit::Assets::image("AppIcon", QSize(72, 72)));
    layout->addWidget(logo);
    auto* name = new QLabel(this);
    name->setTextFormat(Qt::PlainText);
    name->setAlignment(Qt::AlignCenter);
    name->setText(QString::fromStdString(foundation::Bundle::main().infoString("CFBundleName").value_or("")));
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() + 4);
    name->setFont(nameFont);
    layout->addWidget(name);
    CurrentVersionField = new QLabel(this);
    CurrentVersionField->setTextFormat(Qt::PlainText);
    CurrentVersionField->setAlignment(Qt::AlignCenter);
    layout->addWidget(CurrentVersionField);
    versionInfo = new QLabel(this);
    versionInfo->setTextFormat(Qt::PlainText);
    versionInfo->setAlignment(Qt::AlignCenter);
    layout->addWidget(versionInfo);
    // A link: a click leaves the focus where it was, so Return still means OK after it.
    auto* statement = new LinkButton(LocalizedString::Msg::statement(), this);
    statement->setObjectName("statementLink");
    QFont link = statement->font();
    link.setUnderline(true);
    statement->setFont(link);
    QPalette linkPalette = statement->palette();
    linkPalette.setColor(QPalette::ButtonText, appkit::colors::linkBlue());
    statement->setPalette(linkPalette);
    connect(statement, &QPushButton::clicked, this, [this] { openFileWithSender(); });
    layout->addWidget(statement, 0, Qt::AlignCenter);
    layout->addStretch(1);
    Copyright = new QLabel(this);
    Copyright->setTextFormat(Qt::PlainText);
    Copyright->setAlignment(Qt::AlignCenter);
    Copyright->setWordWrap(true);
    QFont small = Copyright->font();
    small.setPointSizeF(small.pointSizeF() - 1);
    Copyright->setFont(small);
    layout->addWidget(Copyright);
    okBtn = new QPushButton(localizedCommonString("OK"), this);
    okBtn->setFixedWidth(96);
    okBtn->setAttribute(Qt::WA_Hover);
    okBtn->setFlat(true);
    okBtn->setDefault(true);
    connect(okBtn, &QPushButton::clicked, this, [this] { closeAbout(); });
    layout->addWidget(okBtn, 0, Qt::AlignCenter);
}

void About::viewWillAppear() {
    view();
    usageReports()->logScreen("About", "About");
    if (auto* w = hostWindow()) w->setEmptyTitle();
    const QString version =
        QString::fromStdString(foundation::Bundle::main().infoString("CFBundleShortVersionString").value_or(""));
    CurrentVersionField->setText(localizedCommonString("Version") + QLatin1Char(' ') + version);
    Copyright->setText(LocalizedString::Copyright::notice());
    okBtn->installEventFilter(this);
    okHighlighted_ = false;
    applyButtonLook();
    viewWillLayout();
}

void About::viewWillLayout() {
    auto color = appkit::Assets::color("AboutViewControllerBgColor", appkit::Assets::currentAppearance());
    setAutoFillBackground(color.has_value());
    if (color) {
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, *color);
        setPalette(palette);
    }
}

void About::viewWillDisappear() {
    if (okBtn) okBtn->removeEventFilter(this);
}

bool About::eventFilter(QObject* watched, QEvent* event) {
    if (watched == okBtn) {
        if (event->type() == QEvent::Enter || event->type() == QEvent::HoverEnter) mouseEntered();
        if (event->type() == QEvent::Leave || event->type() == QEvent::HoverLeave) mouseExited();
    }
    return appkit::ViewController::eventFilter(watched, event);
}

void About::mouseEntered() {
    okHighlighted_ = true;
    applyButtonLook();
}

void About::mouseExited() {
    okHighlighted_ = false;
    applyButtonLook();
}

void About::applyButtonLook() {
    if (!okBtn) return;
    // Blue without a border under the mouse; clear with a light-grey border otherwise.
    okBtn->setStyleSheet(okHighlighted_
                             ? QStringLiteral("QPushButton { background: rgb(0,122,255); color: white; "
                                              "border: 1px solid transparent; border-radius: 4px; padding: 4px; }")
                             : QStringLiteral("QPushButton { background: transparent; "
                                              "border: 1px solid rgb(170,170,170); border-radius: 4px; padding: 4px; }"));
}

void About::closeAbout() {
    if (auto* w = hostWindow()) w->performClose();
}

void About::openFileWithSender() {
    auto path = foundation::Bundle::main().pathForResource("Statement", "docx");
    if (!path) return;
    documentOpener()(QUrl::fromLocalFile(QString::fromStdString(path->string())));
}

void About::parserDidStartElement(const QString& elementName) { element = elementName; }

void About::parserFoundCharacters(const QString& characters) {
    if (element && *element == QLatin1String(kVersionElement)) latestVersion = characters;
}

void About::parserDidEndElement(const QString&) {
    if (element && *element == QLatin1String(kVersionElement)) {
        foundation::NotificationCenter::defaultCenter().post(kLatestVersionFound, this,
                                                             latestVersion ? latestVersion->toStdString() : std::string());
    }
}

}  // namespace hvb
