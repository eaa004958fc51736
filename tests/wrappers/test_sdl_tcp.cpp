#include "test_helpers/tcp_client.h"
#include "utils/errors.h"
#include "wrappers/sdl_tcp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using TestHelpers::TcpClient;
using Wrappers::SDLTCP;

namespace {

class SDLTCPTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        _port = TestHelpers::freePort();
        _listener.setupListen(_port);
        ASSERT_TRUE(_client.connect(_port));
        _peer.reset(static_cast<SDLTCP*>(_listener.accept({})));
        ASSERT_TRUE(_peer);
    }

    std::string receive(int timeout, int size = 256)
    {
        char buf[1024];
        const int n = _peer->receive(buf, 1, size, timeout);
        EXPECT_GE(n, 1);
        EXPECT_LE(n, size);
        return std::string(buf, static_cast<size_t>(n));
    }

    int _port = 0;
    SDLTCP _listener;
    TcpClient _client;
    std::unique_ptr<SDLTCP> _peer;
};

TEST_F(SDLTCPTest, TimeoutLeavesTheConnectionUsable)
{
    EXPECT_THROW(receive(100), Utils::NetErrorTimeout);
    ASSERT_TRUE(_client.send("0123456789"));
    EXPECT_EQ(receive(1000), "0123456789");
}

TEST_F(SDLTCPTest, ABurstLongerThanTheRequestComesInPieces)
{
    std::string burst;
    for (int i = 0; i < 300; ++i)
        burst += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(_client.send(burst));
    ASSERT_TRUE(_client.waitDelivered(5s));
    const std::string first = receive(1000);
    EXPECT_LE(first.size(), 256u);
    std::string all = first;
    while (all.size() < burst.size())
        all += receive(1000);
    EXPECT_EQ(all, burst);
}

TEST_F(SDLTCPTest, ReceiveAfterPeerCloseFails)
{
    ASSERT_TRUE(_client.send("last"));
    _client.close();
    EXPECT_EQ(receive(1000), "last");
    EXPECT_THROW(receive(1000), Utils::NetErrorFault);
    // Without the wait as well: the read itself sees the end.
    EXPECT_THROW(receive(0), Utils::NetErrorFault);
}

TEST_F(SDLTCPTest, SendReachesThePeerWhole)
{
    std::string data(100000, 'k');
    EXPECT_EQ(_peer->sendData(data.data(), static_cast<int>(data.size())), 100000);
    EXPECT_EQ(_client.readBytes(data.size(), 5s), data);
}

TEST_F(SDLTCPTest, ConnectingInstanceTalksToTheAcceptedOne)
{
    SDLTCP sender;
    sender.setupSend("127.0.0.1", _port);
    std::unique_ptr<SDLTCP> peer(static_cast<SDLTCP*>(_listener.accept({})));
    ASSERT_TRUE(peer);
    EXPECT_EQ(sender.sendData("hello", 5), 5);
    char buf[16];
    const int n = peer->receive(buf, 1, sizeof buf, 1000);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "hello");
    // The accepted instance has a set of its own: sel waits, then times out.
    EXPECT_THROW(peer->sel(50), Utils::NetErrorTimeout);
}

TEST(SDLTCPSetup, ConnectToAClosedPortFails)
{
    SDLTCP sender;
    testing::internal::CaptureStdout();
    EXPECT_THROW(sender.setupSend("127.0.0.1", TestHelpers::freePort()), Utils::NetErrorCreateSocket);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("SDLNet_TCP_Open: ", 0), 0u);
    // Nothing was opened: sel reports the missing set and returns.
    testing::internal::CaptureStdout();
    EXPECT_NO_THROW(sender.sel(10));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Net::sel called without N->set set\n");
}

TEST(SDLTCPSetup, AcceptGivesUpWhenAsked)
{
    SDLTCP listener;
    listener.setupListen(TestHelpers::freePort());
    int calls = 0;
    EXPECT_EQ(listener.accept([&] { return ++calls > 3; }), nullptr);
}

} // namespace
