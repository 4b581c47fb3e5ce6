// The driver host's command line, camera descriptions, configuration file and log.
#include <gtest/gtest.h>

#include "SCSIDriver/host/HostLog.h"
#include "SCSIDriver/host/HostOptions.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TempDir.h"

using namespace hvb::driverhost;

TEST(HostOptionsTest, CameraDescriptionsAsWordsOrAsOneText) {
    std::string error;
    auto words = parseCameraDescription(std::vector<std::string>{"HVBR7", "firmware=1.6.01", "serial=A1"}, &error);
    ASSERT_TRUE(words) << error;
    EXPECT_EQ(words->model, "HVBR7");
    EXPECT_EQ(words->field("firmware"), "1.6.01");
    EXPECT_EQ(words->field("serial"), "A1");
    EXPECT_EQ(words->field("uid", "none"), "none");

    auto text = parseCameraDescription(std::string("model=HVBS2A, serial=B2 ,label=Officer 7"), &error);
    ASSERT_TRUE(text) << error;
    EXPECT_EQ(text->model, "HVBS2A");
    EXPECT_EQ(text->field("serial"), "B2");
    EXPECT_EQ(text->field("label"), "Officer 7");

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"serial=X"}, {"HVBR7", "colour=red"}, {"HVBR7", "HVBS2A"},
          {"serial=X", "HVBR7"}, {"HVBR7", "label=a\nb"}, {"HVBR7", "label=" + std::string(300, 'x')}}) {
        error.clear();
        EXPECT_FALSE(parseCameraDescription(bad, &error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(HostOptionsTest, CommandLine) {
    std::string error;
    auto options = parseArguments({"--root", "relative/root", "--camera", "HVBR7,serial=S", "--daemon"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->root.is_absolute());
    EXPECT_EQ(options->mode, Mode::serve);
    EXPECT_TRUE(options->daemon);
    ASSERT_EQ(options->cameras.size(), 1u);
    EXPECT_EQ(options->effectiveBackend(), Backend::simulation);
    EXPECT_EQ(options->socketPath(), options->root / "run/halvetor/iokit.sock");
    EXPECT_EQ(options->pidFile().filename(), "com_brevantis_driver_HVBSCSIDriver.pid");

    options = parseArguments({"--root", "/"}, &error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->effectiveBackend(), Backend::linux);
    options = parseArguments({"--root", "/", "--backend", "simulation"}, &error);
    EXPECT_EQ(options->effectiveBackend(), Backend::simulation);
    // Any root whose real path is "/" is the real system, as the installer takes it.
    TempDir dir;
    std::filesystem::create_directory_symlink("/", dir / "slash");
    for (const std::string& slash : std::vector<std::string>{"/.", "//", "/run/..", (dir / "slash").string()}) {
        options = parseArguments({"--root", slash}, &error);
        ASSERT_TRUE(options) << slash;
        EXPECT_EQ(options->root, "/") << slash;
        EXPECT_EQ(options->effectiveBackend(), Backend::linux) << slash;
        EXPECT_EQ(options->socketPath(), "/run/halvetor/iokit.sock") << slash;
    }

    EXPECT_FALSE(options->debug);
    options = parseArguments({"--root", "/", "--debug"}, &error);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->debug);

    options = parseArguments({"--root", "/x", "--control", "plug", "HVBR7", "--daemon"}, &error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->mode, Mode::control);
    EXPECT_EQ(options->controlArguments, (std::vector<std::string>{"plug", "HVBR7", "--daemon"}));
    EXPECT_FALSE(options->daemon);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--backend", "usb"}, {"--root"}, {"--control"}, {"--camera", "nomodel=1"},
          {"extra"}}) {
        EXPECT_FALSE(parseArguments(bad, &error)) << bad.front();
    }
}

TEST(HostOptionsTest, ConfigurationFile) {
    TempDir dir;
    std::string error;
    auto options = parseArguments({"--root", dir.path().string()}, &error);
    ASSERT_TRUE(options);
    EXPECT_TRUE(applyConfigFile(*options, &error));  // none: nothing changes
    EXPECT_TRUE(options->cameras.empty());

    TempDir::write(dir / "etc/halvetor/driver.conf",
                   "# the demo's cameras\n\nbackend linux\ngroup cameras\ncamera HVBR7,serial=C1\n"
                   "camera model=HVBT3A,firmware=1.3.0,serial=C2\n");
    ASSERT_TRUE(applyConfigFile(*options, &error)) << error;
    EXPECT_EQ(options->effectiveBackend(), Backend::linux);
    EXPECT_EQ(options->group, "cameras");
    ASSERT_EQ(options->cameras.size(), 2u);
    EXPECT_EQ(options->cameras[1].field("serial"), "C2");

    // The command line wins over the file.
    options = parseArguments({"--root", dir.path().string(), "--backend", "simulation", "--camera", "HVBS2A"},
                             &error);
    ASSERT_TRUE(applyConfigFile(*options, &error));
    EXPECT_EQ(options->effectiveBackend(), Backend::simulation);
    ASSERT_EQ(options->cameras.size(), 1u);
    EXPECT_EQ(options->cameras[0].model, "HVBS2A");

    TempDir::write(dir / "etc/halvetor/driver.conf", "backend simulation\ncamera HVBR7,colour=red\n");
    options = parseArguments({"--root", dir.path().string()}, &error);
    EXPECT_FALSE(applyConfigFile(*options, &error));
    EXPECT_NE(error.find("driver.conf:2"), std::string::npos) << error;
}

TEST(HostLogTest, PerCallLinesOnlyAtTheDebugLevelAndTheFileMovesAsideAtItsLimit) {
    const std::string call = "com_brevantis_driver_HVBSCSIDriver[0x5a0]::M37SyncIO(1, 0x7f00)";
    for (auto& [line, trace] : std::vector<std::pair<std::string, bool>>{
             {call, true},
             {"HIWORD_HIBYTE = 0, HIWORD_LOBYTE = 0, LOWORD_HIBYTE = 0, LOWORD_LOBYTE = 16", true},
             {"com_brevantis_driver_HVBSCSIDriverUserClient[0x5a1]::clientDied()", false},
             {"com_brevantis_driver_HVBSCSIDriverUserClient[0x5a1]::closeUserClient(): returning kIOReturnNotOpen.", false},
             {"AssertMacros: buffer != NULL, , file: SCSIDriver/HVBSCSIDriver, line: 129, value: 0", false}})
        EXPECT_EQ(isCallTrace(line), trace) << line;

    foundation::setLogEchoEnabled(false);
    TempDir dir;
    for (bool debug : {false, true}) {
        HostLog log(debug, 4096);
        ASSERT_TRUE(log.open(dir / "host.log"));
        for (int i = 0; i < 500; ++i) {
            foundation::systemLog(call);
            foundation::systemLog("line " + std::to_string(i));
        }
        const std::string current = TempDir::read(dir / "host.log"), previous = TempDir::read(dir / "host.log.1");
        EXPECT_LE(current.size(), 4096u);
        EXPECT_LE(previous.size(), 4096u);
        EXPECT_NE(current.find("line 499\n"), std::string::npos);
        EXPECT_EQ(current.find(call) != std::string::npos, debug);
    }
}
