// The storyboard registry.
#include <gtest/gtest.h>

#include <string>

#include <QObject>
#include <QPointer>

#include "AppkitTestSupport.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/ViewController.h"

using namespace appkit_test;

TEST(StoryboardTest, InstantiatesAFreshControllerOfTheRegisteredType) {
    appkit::Storyboard storyboard;
    storyboard.registerController("StatusViewController", [] { return new RecordingController; });
    EXPECT_TRUE(storyboard.contains("StatusViewController"));
    std::unique_ptr<RecordingController> a(storyboard.instantiateController<RecordingController>("StatusViewController"));
    std::unique_ptr<appkit::ViewController> b(
        storyboard.instantiateController<appkit::ViewController>("StatusViewController"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(static_cast<QObject*>(a.get()), static_cast<QObject*>(b.get()));
}

TEST(StoryboardTest, AnUnknownIdentifierGivesNothing) {
    appkit::Storyboard storyboard;
    storyboard.registerController("SettingsViewController", [] { return new RecordingController; });
    EXPECT_FALSE(storyboard.contains("HVBToolViewController"));
    EXPECT_EQ(storyboard.instantiateControllerWithIdentifier("HVBToolViewController"), nullptr);
    EXPECT_EQ(storyboard.instantiateController<appkit::ViewController>("HVBToolViewController"), nullptr);
    EXPECT_EQ(storyboard.instantiateController<appkit::ViewController>(""), nullptr);
}

TEST(StoryboardTest, AControllerOfAnotherTypeGivesNothingAndIsDeleted) {
    appkit::Storyboard storyboard;
    QPointer<QObject> made;
    storyboard.registerController("DiskFormatWindowControl", [&] {
        auto* object = new QObject;
        made = object;
        return object;
    });
    EXPECT_EQ(storyboard.instantiateController<appkit::ViewController>("DiskFormatWindowControl"), nullptr);
    EXPECT_TRUE(made.isNull());
}

TEST(StoryboardTest, AFactoryMayInstantiateFromTheSameStoryboard) {
    appkit::Storyboard storyboard;
    storyboard.registerController("Content", [] { return new RecordingController; });
    storyboard.registerController("Outer", [&storyboard] {
        auto* outer = new RecordingController;
        storyboard.instantiateController<RecordingController>("Content")->setParent(outer);
        return outer;
    });
    std::unique_ptr<RecordingController> outer(storyboard.instantiateController<RecordingController>("Outer"));
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->findChildren<RecordingController*>().size(), 1);
}
