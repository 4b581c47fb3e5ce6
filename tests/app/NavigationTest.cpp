// The left list and the right pane: selection, pane switches and the device-count rule.
#include <gtest/gtest.h>

#include <QTest>

#include "app/AppStartup.h"
#include "app/LeftSplitViewController.h"
#include "app/LeftSplitViewItems.h"
#include "app/MainSplitView.h"
#include "app/MainWindow.h"
#include "app/PanelCollectionView.h"
#include "app/RightSplitViewController.h"
#include "app/RightViewContainer.h"
#include <algorithm>

#include "AppTestSupport.h"
#include "camera/FakeCameraLink.h"
#include "platform/appkit/Storyboard.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using namespace hvb;

// A panel that counts its appearance hooks.
class CountingPane : public appkit::ViewController {
public:
    int willAppear = 0, didAppear = 0, willDisappear = 0, didDisappear = 0;
    void viewWillAppear() override { ++willAppear; }
    void viewDidAppear() override { ++didAppear; }
    void viewWillDisappear() override { ++willDisappear; }
    void viewDidDisappear() override { ++didDisappear; }
};

// Registered before any test of this program makes a pane (the panes are kept for the process),
// and again over the application's own panels.
bool registerCountingPanes() {
    for (const char* id : {"StatusViewController", "SettingsViewController", "HVBToolViewController"}) {
        appkit::Storyboard::main().registerController(id, [id] {
            auto* pane = new CountingPane();
            pane->setObjectName(id);
            return pane;
        });
    }
    return true;
}
const bool panesRegistered = registerCountingPanes();

class Navigation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        registerAppControllers();
        registerCountingPanes();
    }

    void SetUp() override {
        setCameraLink(link);
        LaunchEnvironment env;  // nothing of the machine is touched here
        window = std::make_unique<MainWindow>(env);
        window->showWindow();
        left = window->splitView()->leftController();
        right = window->splitView()->rightController();
        list = left->collectionView();
    }
    void TearDown() override {
        window.reset();
        setCameraLink(nullptr);
    }

    void attach(const std::string& sn, bool webcam = false) {
        auto& models = link->models;
        auto it = std::find_if(models.begin(), models.end(), [&](const auto& m) { return m->SN == sn; });
        if (it == models.end()) it = models.insert(models.end(), std::make_shared<HVBModel>(sn));
        (*it)->isWebcamMode = webcam;
        foundation::NotificationCenter::defaultCenter().post(kStatusDidGet);
    }
    void detach(const std::string& sn) {
        std::erase_if(link->models, [&](const auto& m) { return m->SN == sn; });
        foundation::NotificationCenter::defaultCenter().post(kStatusDidGet);
    }
    void click(int index) { QTest::mouseClick(list->itemAtIndex(index), Qt::LeftButton); }
    QString paneName() const { return right->currentView() ? right->currentView()->objectName() : QString(); }
    std::string picture(int index) const { return list->itemAtIndex(index)->shownPictureName(); }
    QColor title(int index) const { return list->itemAtIndex(index)->titleColor(); }

    std::shared_ptr<hvbtest::FakeCameraLink> link = std::make_shared<hvbtest::FakeCameraLink>();
    std::unique_ptr<MainWindow> window;
    LeftSplitViewController* left = nullptr;
    RightSplitViewController* right = nullptr;
    PanelCollectionView* list = nullptr;
    const QColor grey{145, 145, 145};
    const QColor black{Qt::black};
};

TEST_F(Navigation, WithoutACameraOnlyStatusIsActive) {
    EXPECT_EQ(paneName(), "StatusViewController");
    EXPECT_EQ(picture(0), "Status_Select");
    EXPECT_EQ(list->selectionIndexes(), std::set<int>{0});
    EXPECT_FALSE(list->isSelectable());
    EXPECT_EQ(title(0), black);
    EXPECT_EQ(title(1), grey);
    EXPECT_EQ(title(2), grey);
    click(1);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(paneName(), "StatusViewController");
    EXPECT_EQ(list->selectionIndexes(), std::set<int>{0});
}

TEST_F(Navigation, OneCameraOpensTheListAndClicksSwitchPanes) {
    attach("SN1");
    EXPECT_TRUE(list->isSelectable());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(title(i), black);
    click(1);
    EXPECT_EQ(paneName(), "SettingsViewController");
    EXPECT_EQ(picture(1), "Setting_Select");
    EXPECT_EQ(picture(0), "Status_DeSelect");
    EXPECT_TRUE(list->itemAtIndex(1)->hasWhiteBackground());
    EXPECT_FALSE(list->itemAtIndex(0)->hasWhiteBackground());
    click(2);
    EXPECT_EQ(paneName(), "HVBToolViewController");
    EXPECT_EQ(picture(1), "Setting_DeSelect");
    EXPECT_EQ(picture(2), "Tool_Select");
    // The list takes the focus from Tab, and its arrow keys move as clicks do, stopping at the ends.
    EXPECT_TRUE(list->focusPolicy() & Qt::TabFocus);
    for (auto [key, pane] : {std::pair{Qt::Key_Down, "HVBToolViewController"}, {Qt::Key_Up, "SettingsViewController"},
                             {Qt::Key_Up, "StatusViewController"}, {Qt::Key_Up, "StatusViewController"},
                             {Qt::Key_Down, "SettingsViewController"}}) {
        QTest::keyClick(list, key);
        EXPECT_EQ(paneName(), pane);
    }
    EXPECT_EQ(picture(1), "Setting_Select");
    EXPECT_EQ(picture(0), "Status_DeSelect");
}

TEST_F(Navigation, SecondCameraShowsTheWarningAndRemovingItReturnsToThePane) {
    attach("SN1");
    click(1);
    attach("SN2");
    EXPECT_EQ(paneName(), "WarningPageViewController");
    EXPECT_FALSE(list->isSelectable());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(title(i), grey);
    EXPECT_EQ(picture(1), "Setting_Select");  // the selection is kept
    click(2);
    EXPECT_EQ(paneName(), "WarningPageViewController");
    detach("SN2");
    EXPECT_EQ(paneName(), "SettingsViewController");
    EXPECT_TRUE(list->isSelectable());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(title(i), black);
}

TEST_F(Navigation, NoUsableCameraLocksTheListOnStatus) {
    attach("SN1");
    click(2);
    detach("SN1");
    EXPECT_EQ(paneName(), "StatusViewController");
    EXPECT_EQ(picture(0), "Status_Select");
    EXPECT_EQ(picture(2), "Tool_DeSelect");
    EXPECT_EQ(list->selectionIndexes(), std::set<int>{0});
    EXPECT_EQ(title(0), black);
    EXPECT_EQ(title(1), grey);
    EXPECT_EQ(title(2), grey);
    EXPECT_FALSE(list->isSelectable());

    // A camera in webcam mode counts as none.
    attach("SN1");
    click(1);
    attach("SN1", true);
    EXPECT_EQ(paneName(), "StatusViewController");
    EXPECT_FALSE(list->isSelectable());
    EXPECT_EQ(picture(1), "Setting_DeSelect");
}

TEST_F(Navigation, PanelsAreMadeOnceAndAppearOncePerSwitch) {
    attach("SN1");
    auto* status = static_cast<CountingPane*>(RightViewContainer::statusViewController());
    auto* settings = static_cast<CountingPane*>(RightViewContainer::settingsViewController());
    const int made = RightViewContainer::instantiationCount();
    const int statusAppeared = status->willAppear;
    const int settingsAppeared = settings->willAppear;
    const int settingsGone = settings->didDisappear;
    for (int round = 0; round < 3; ++round) {
        click(1);
        click(0);
    }
    EXPECT_EQ(RightViewContainer::instantiationCount(), made);
    EXPECT_EQ(RightViewContainer::settingsViewController(), settings);
    EXPECT_EQ(status->willAppear, statusAppeared + 3);
    EXPECT_EQ(status->didAppear, status->willAppear);
    EXPECT_EQ(settings->willAppear, settingsAppeared + 3);
    EXPECT_EQ(settings->didDisappear, settingsGone + 3);
    // The same "statusDidGet" while a pane is shown does not make it appear again.
    attach("SN1");
    EXPECT_EQ(status->willAppear, statusAppeared + 3);
    // Minimising and restoring the window is no appearance.
    window->showMinimized();
    window->showNormal();
    EXPECT_EQ(status->willAppear, statusAppeared + 3);
}

TEST_F(Navigation, AnEmptyRightPaneSlotSkipsTheSwitchButNotTheEntryLook) {
    attach("SN1");
    LeftSplitViewController::setDelegate(nullptr);
    click(1);
    EXPECT_EQ(paneName(), "StatusViewController");
    EXPECT_EQ(picture(1), "Setting_Select");
    LeftSplitViewController::setDelegate(right);
}

TEST_F(Navigation, SelectOrDeselectWithoutAnEntryDoesNothing) {
    left->didSelectItems({});
    left->didSelectItems({7});
    left->didDeselectItems({7});
    EXPECT_EQ(paneName(), "StatusViewController");
    EXPECT_EQ(picture(0), "Status_Select");
}

TEST(NavigationBeforeShown, StatusBeforeTheListAppearsOnlyChangesSelectability) {
    registerAppControllers();
    auto link = std::make_shared<hvbtest::FakeCameraLink>();
    setCameraLink(link);
    LaunchEnvironment env;
    MainWindow window(env);  // not shown: the list has no selection yet
    auto* list = window.splitView()->leftController()->collectionView();
    link->models.push_back(std::make_shared<HVBModel>("SN1"));
    foundation::NotificationCenter::defaultCenter().post(kStatusDidGet);
    EXPECT_TRUE(list->isSelectable());
    EXPECT_TRUE(list->selectionIndexes().empty());
    EXPECT_EQ(list->itemAtIndex(1)->titleColor(), QColor(145, 145, 145));
    link->models.push_back(std::make_shared<HVBModel>("SN2"));
    foundation::NotificationCenter::defaultCenter().post(kStatusDidGet);
    EXPECT_EQ(window.splitView()->rightController()->currentView()->objectName(), "WarningPageViewController");
    setCameraLink(nullptr);
}

TEST(LeftItems, PicturesAndColoursFollowTheirState) {
    LeftSplitViewItems item;
    item.view();
    EXPECT_EQ(LeftSplitViewItems::pictureName(1, true), "Setting_Select");
    EXPECT_EQ(LeftSplitViewItems::pictureName(3, true), "");
    item.setSelected(true, 1);
    EXPECT_EQ(item.shownPictureName(), "Setting_Select");
    EXPECT_TRUE(item.hasWhiteBackground());
    item.setSelected(false, 5);  // another number leaves the picture
    EXPECT_EQ(item.shownPictureName(), "Setting_Select");
    EXPECT_FALSE(item.hasWhiteBackground());
    item.updateTextColor();
    EXPECT_EQ(item.titleColor(), QColor(Qt::black));  // unset counts as enabled
    item.isEnabled = false;
    item.updateTextColor();
    EXPECT_EQ(item.titleColor(), QColor(145, 145, 145));
    item.isEnabled = true;
    item.updateTextColor();
    EXPECT_EQ(item.titleColor(), QColor(Qt::black));
}

}  // namespace
