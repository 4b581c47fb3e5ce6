#include "status/StatusViewController.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "camera/SerialMatch.h"
#include "common/DesktopOpener.h"
#include "common/DriverHostState.h"
#include "common/LocalizedString.h"
#include "common/StringCatalog.h"
#include "common/TextLines.h"
#include "online/UsageReports.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "status/StatusRowState.h"
#include "status/StatusTableViewCell.h"

namespace hvb {

namespace {

using namespace LocalizedString;

const QColor kPanelGrey(227, 227, 227);
// The empty state's white box: its widest and its side margins.
constexpr int kEmptyBoxWidth = 560;
constexpr int kEmptyBoxMargin = 36;

void setPixelFont(QWidget* view, int size, bool bold) {
    QFont font = view->font();
    font.setPixelSize(size);
    font.setBold(bold);
    view->setFont(font);
}

// The label's text broken only where its language allows, and the label as wide as its widest
// line within the box, so word wrap never breaks it again (the box takes the width its contents
// ask for).
void showBetweenWords(QLabel* label, const QString& text) {
    const int room = kEmptyBoxWidth - 2 * kEmptyBoxMargin;
    const QString lines = breakBetweenWords(text, label->fontMetrics(), room);
    label->setText(lines);
    int widest = 0;
    for (const QString& line : lines.split(QLatin1Char('\n')))
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
    label->setMinimumWidth(std::min(widest + 2, room));
}

}  // namespace

StatusViewController::StatusViewController(QWidget* parent)
    : appkit::ViewController(parent), queue_(CameraWorkQueue::make()) {
    setObjectName("StatusViewController");
}

StatusViewController::~StatusViewController() {
    if (observer_) foundation::NotificationCenter::defaultCenter().removeObserver(observer_);
    if (hostStateObserver_) foundation::NotificationCenter::defaultCenter().removeObserver(hostStateObserver_);
    for (StatusTableViewCell* row : rows_) row->stopRefreshTimer();
}

StatusTableViewCell* StatusViewController::rowAt(int row) const {
    if (row < 0 || row >= numberOfRows()) return nullptr;
    return rows_[static_cast<size_t>(row)];
}

void StatusViewController::loadView() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    tableView = new QScrollArea(this);
    tableView->setObjectName("tableView");
    tableView->setWidgetResizable(true);
    tableView->setFrameShape(QFrame::NoFrame);
    // Tab goes to the rows' controls; the area scrolls to the one that has the focus.
    tableView->setFocusPolicy(Qt::NoFocus);
    tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* rows = new QWidget();
    rows->setObjectName("statusRows");
    rowsLayout_ = new QVBoxLayout(rows);
    rowsLayout_->setContentsMargins(kRowSpacing, kRowSpacing, kRowSpacing, kRowSpacing);
    rowsLayout_->setSpacing(kRowSpacing);
    rowsLayout_->addStretch(1);
    tableView->setWidget(rows);
    root->addWidget(tableView);

    // The empty state: a white box in the middle of the pane.
    auto* emptyArea = new QWidget(this);
    auto* centre = new QVBoxLayout(emptyArea);
    centre->setContentsMargins(40, 40, 40, 40);
    emptyHVBBox = new QFrame(emptyArea);
    emptyHVBBox->setObjectName("emptyHVBBox");
    emptyHVBBox->setMaximumWidth(kEmptyBoxWidth);
    auto* box = new QVBoxLayout(emptyHVBBox);
    box->setContentsMargins(kEmptyBoxMargin, 28, kEmptyBoxMargin, 32);
    box->setSpacing(14);
    emptyHVBImage = new QLabel(emptyHVBBox);
    emptyHVBImage->setAlignment(Qt::AlignCenter);
    emptyHVBImage->setPixmap(appkit::Assets::image("img_hvb_homepage_hvbs2", QSize(200, 200)));
    // The page's lines differ only in name, size, weight and colour.
    auto line = [&](const char* name, int pixels, bool bold, std::optional<QColor> colour = std::nullopt) {
        auto* label = new QLabel(emptyHVBBox);
        label->setObjectName(name);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        setPixelFont(label, pixels, bold);
        if (colour) {
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, *colour);
            label->setPalette(palette);
        }
        return label;
    };
    auto button = [&](const char* name) {
        auto* pushButton = new QPushButton(emptyHVBBox);
        pushButton->setObjectName(name);
        pushButton->setMinimumHeight(30);
        return pushButton;
    };
    insertDeviceLabel = line("insertDeviceLabel", 18, true);
    securityReminderLabel = line("securityReminderLabel", 13, false, QColor(110, 110, 115));
    // Why no camera shows while the driver is known to be stopped, and the way to start it; made
    // before the button below it, so that Tab reaches them in the order they stand.
    driverStoppedLabel = line("driverStoppedLabel", 14, true, QColor(178, 34, 34));
    startDriverBtn = button("startDriverBtn");
    openSecurityPreferenceBtn = button("openSecurityPreferenceBtn");
    driverStoppedLabel->hide();
    startDriverBtn->hide();
    box->addWidget(emptyHVBImage);
    box->addWidget(insertDeviceLabel);
    box->addWidget(driverStoppedLabel);
    box->addWidget(startDriverBtn, 0, Qt::AlignHCenter);
    box->addWidget(securityReminderLabel);
    box->addSpacing(4);
    box->addWidget(openSecurityPreferenceBtn, 0, Qt::AlignHCenter);
    centre->addStretch(1);
    centre->addWidget(emptyHVBBox, 0, Qt::AlignHCenter);
    centre->addStretch(2);
    root->addWidget(emptyArea);
    emptyArea->setObjectName("emptyArea");
    connect(openSecurityPreferenceBtn, &QPushButton::clicked, this, [this] { OpenSecurityPreferenceBtn_Click(); });
    connect(startDriverBtn, &QPushButton::clicked, this, [this] { StartDriverBtn_Click(); });
}

void StatusViewController::viewDidLoad() {
    setAutoFillBackground(true);
    QPalette panel = palette();
    panel.setColor(QPalette::Window, kPanelGrey);
    setPalette(panel);
    tableView->viewport()->setAutoFillBackground(false);
    tableView->widget()->setAutoFillBackground(false);
    tableView->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));

    showBetweenWords(insertDeviceLabel, Str::insertDeviceFirst());
    showBetweenWords(securityReminderLabel, Msg::allowSystemSoftware());
    openSecurityPreferenceBtn->setText(Str::openSecurityPreferences());
    startDriverBtn->setText(Msg::startDriver());
    // Told on the main queue; the line is kept current while the panel is hidden too.
    hostStateObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
        kDriverHostStateDidChange, [this](const foundation::Notification&) { showDriverHostState(); });
    showDriverHostState();

    emptyHVBBox->setAutoFillBackground(true);
    QPalette box = emptyHVBBox->palette();
    box.setColor(QPalette::Window, Qt::white);
    emptyHVBBox->setPalette(box);
}

void StatusViewController::viewWillAppear() {
    usageReports()->logScreen("Main", "StatusViewController");
    if (!observer_) {
        observer_ = foundation::NotificationCenter::defaultCenter().addObserver(
            kStatusDidGet, [this](const foundation::Notification&) { refresh(); });
    }
    refresh();
}

void StatusViewController::viewWillDisappear() {
    if (observer_) foundation::NotificationCenter::defaultCenter().removeObserver(observer_);
    observer_ = 0;
    // Rows read their cameras only while they are on screen.
    for (StatusTableViewCell* row : rows_) row->stopRefreshTimer();
}

void StatusViewController::refresh() {
    view();
    const std::shared_ptr<CameraLink> link = cameraLink();
    // Each snapshot with its UID, read once.
    std::vector<std::pair<StatusModel, std::string>> snapshots;
    for (const DeviceEntry& entry : link->deviceEntries()) {
        if (auto snapshot = StatusModel::make(entry.key())) {
            std::string uid = upperCaseUID(snapshot->parameters);
            snapshots.emplace_back(std::move(*snapshot), std::move(uid));
        }
    }
    const auto models = link->modelList();
    for (const auto& model : models) {
        for (const auto& [snapshot, uid] : snapshots) {
            // An empty UID matches no camera.
            if (serialContains(model->SN, uid, MatchCase::sensitive)) {
                model->setStatusInfo(snapshot);
                break;
            }
        }
    }
    const bool empty = models.empty();
    emptyHVBBox->parentWidget()->setVisible(empty);
    emptyHVBBox->setVisible(empty);
    tableView->setVisible(!empty);
    reloadData();
}

void StatusViewController::showDriverHostState() {
    const DriverHostState::State state = DriverHostState::shared().state();
    const bool known = state != DriverHostState::State::notKnownDown;
    if (known) {
        showBetweenWords(driverStoppedLabel,
                         state == DriverHostState::State::starting ? Msg::driverStarting() : Msg::driverNotRunning());
    }
    driverStoppedLabel->setVisible(known);
    startDriverBtn->setVisible(known);
    startDriverBtn->setEnabled(state == DriverHostState::State::down);
}

void StatusViewController::StartDriverBtn_Click() {
    if (DriverHostState::shared().state() != DriverHostState::State::down) return;
    // Pressed once: it waits for the shell's word that the start runs or failed.
    startDriverBtn->setEnabled(false);
    if (!DriverHostState::shared().start()) startDriverBtn->setEnabled(true);
}

void StatusViewController::reloadData() {
    const auto models = cameraLink()->modelList();
    while (rows_.size() > models.size()) {
        StatusTableViewCell* row = rows_.back();
        rows_.pop_back();
        row->stopRefreshTimer();
        rowsLayout_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    for (size_t i = 0; i < models.size(); ++i) {
        bool added = false;
        if (i >= rows_.size()) {
            auto* row = new StatusTableViewCell(tableView->widget());
            rowsLayout_->insertWidget(static_cast<int>(i), row);
            rows_.push_back(row);
            added = true;
        }
        StatusTableViewCell* row = rows_[i];
        row->setDeviceIndex(static_cast<int64_t>(i));
        row->setDeviceInfo(models[i]);
        row->setDelegate(this);
        row->refresh(true);
        if (!isObservingStatus()) continue;
        const bool webcam = models[i]->isWebcamMode.load() || models[i]->isModeChanging.load();
        if (added || webcam || !row->hasRefreshTimer()) row->startRefreshTimer();
    }
}

std::filesystem::path StatusViewController::securityHelpPage() {
    // In the user's language where the page is written in it.
    const std::filesystem::path resources = foundation::paths::resourcesDir();
    for (const QString& localisation : StringCatalog::main().searchOrder()) {
        const auto page = resources / (localisation.toStdString() + ".lproj") / "AllowDriverHost.html";
        std::error_code ec;
        if (std::filesystem::is_regular_file(page, ec)) return page;
    }
    return resources / "en.lproj" / "AllowDriverHost.html";
}

std::filesystem::path StatusViewController::securityHelpPageToOpen() {
    const std::filesystem::path page = securityHelpPage();
    std::ifstream in(page, std::ios::binary);
    std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The page ships with the folder of an installed system; a sandbox root keeps it elsewhere.
    static constexpr std::string_view kOpen = "<code id=\"extensions-dir\">";
    const size_t start = html.find(kOpen);
    const size_t end = start == std::string::npos ? start : html.find("</code>", start);
    if (end == std::string::npos) return page;
    const std::string folder =
        QString::fromStdString(foundation::paths::extensionsDir().string()).toHtmlEscaped().toStdString();
    html.replace(start + kOpen.size(), end - start - kOpen.size(), folder);
    const std::filesystem::path copy =
        foundation::paths::cacheDir() / page.parent_path().filename() / page.filename();
    if (auto error = foundation::writeFileAtomically(copy, html, 0644)) {
        foundation::print(*error);
        return page;
    }
    return copy;
}

void StatusViewController::OpenSecurityPreferenceBtn_Click() {
    dispatch::globalQueue(dispatch::QoS::userInitiated).async(
        [] { desktopopener::open(securityHelpPageToOpen().string(), Str::fail()); });
}

void StatusViewController::performCameraWork(std::function<void()> work) { queue_->async(std::move(work)); }

void StatusViewController::readDeviceState(const StatusModel& status, ReadingsDone done) {
    queue_->async([status, done = std::move(done)] {
        const BatteryReading battery = readBatteryState(status);
        const std::optional<StorageReading> storage = storageFigure(status);
        dispatch::mainQueue().async([done, battery, storage] { done(battery, storage); });
    });
}

}  // namespace hvb
