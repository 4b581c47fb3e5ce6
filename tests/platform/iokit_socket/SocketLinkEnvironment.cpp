// Runs a test program's user-side IOKit calls over the socket link: a socket server in this
// process serves the same kernel layer, so tests written against the embedded link run
// unchanged with every call, notification and reply crossing a real socket.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"

namespace {

class SocketLinkEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "hvb-socket-link-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        iokit::SocketServer::Options options;
        options.socketPath = folder_ / "iokit.sock";
        options.policy.owner = ::geteuid();
        server_ = std::make_unique<iokit::SocketServer>(options);
        std::string error;
        ASSERT_TRUE(server_->start(&error)) << error;
        link_ = std::make_shared<iokit::SocketLink>(options.socketPath);
        ASSERT_EQ(link_->connect(), kIOReturnSuccess);
        iokit::setCurrentLink(link_);
    }
    void TearDown() override {
        // Had a test put another link in place, its calls would not have crossed the socket.
        EXPECT_EQ(iokit::currentLink(), link_);
        EXPECT_TRUE(link_->isConnected());
        iokit::setCurrentLink(std::make_shared<iokit::EmbeddedLink>());
        link_.reset();
        server_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

private:
    std::filesystem::path folder_;
    std::unique_ptr<iokit::SocketServer> server_;
    std::shared_ptr<iokit::SocketLink> link_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SocketLinkEnvironment);

}  // namespace
