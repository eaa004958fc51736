#include "test_helpers/loopback.h"
#include "test_helpers/tcp_client.h"
#include "utils/errors.h"
#include "wrappers/sdl_udp.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using Wrappers::SDLUDP;

namespace {

// A plain UDP socket on a free loopback port, for the other end.
class PlainUdp {
public:
    int port() const { return _socket.port(); }

    void sendTo(int port, const std::string& bytes) { ASSERT_TRUE(_socket.sendTo(port, bytes)); }

    // Sizes of the datagrams arriving until none comes for timeoutMs.
    std::vector<size_t> sizes(int timeoutMs)
    {
        std::vector<size_t> result;
        std::vector<char> buf(70000);
        pollfd p{_socket.fd(), POLLIN, 0};
        while (poll(&p, 1, timeoutMs) == 1)
            result.push_back(static_cast<size_t>(recv(_socket.fd(), buf.data(), buf.size(), 0)));
        return result;
    }

private:
    TestHelpers::LoopbackSocket _socket{TestHelpers::LoopbackSocket::Kind::Udp};
};

std::string pattern(size_t n, int seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + static_cast<size_t>(seed) * 7) & 0xff);
    return s;
}

class SDLUDPTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        _port = TestHelpers::freePort(true);
        _listener.setupListen(_port);
    }

    std::string receive(int request, int timeout = 999)
    {
        std::vector<char> buf(static_cast<size_t>(request) + 16, '#');
        const int n = _listener.receive(buf.data(), 1, request, timeout);
        EXPECT_GE(n, 1);
        EXPECT_LE(n, request);
        // Nothing written past the request.
        for (size_t i = static_cast<size_t>(request); i < buf.size(); ++i)
            EXPECT_EQ(buf[i], '#');
        return std::string(buf.data(), static_cast<size_t>(n));
    }

    int _port = 0;
    SDLUDP _listener;
    PlainUdp _other;
};

TEST_F(SDLUDPTest, SendCutsIntoDatagramsOf1024)
{
    SDLUDP sender;
    sender.setupSend("127.0.0.1", _other.port());
    const std::string data = pattern(2500, 1);
    EXPECT_EQ(sender.sendData(data.data(), 2500), 1);
    EXPECT_EQ(_other.sizes(200), (std::vector<size_t>{1024, 1024, 452}));
    sender.sendData(data.data(), 2048);
    EXPECT_EQ(_other.sizes(200), (std::vector<size_t>{1024, 1024}));
    sender.sendData(data.data(), 0);
    EXPECT_EQ(_other.sizes(100), std::vector<size_t>{});
}

TEST_F(SDLUDPTest, SentBytesArriveInOrder)
{
    SDLUDP sender;
    sender.setupSend("127.0.0.1", _port);
    const std::string data = pattern(2500, 2);
    sender.sendData(data.data(), 2500);
    std::string got;
    while (got.size() < data.size())
        got += receive(4096);
    EXPECT_EQ(got, data);
}

TEST_F(SDLUDPTest, OneWholeDatagramPerReceive)
{
    const std::string a = pattern(1024, 3);
    const std::string b = pattern(1024, 4);
    _other.sendTo(_port, a);
    _other.sendTo(_port, b);
    EXPECT_EQ(receive(4096), a);
    EXPECT_EQ(receive(4096), b);
}

TEST_F(SDLUDPTest, TimeoutThenTheNextDatagram)
{
    char buf[64];
    EXPECT_THROW(_listener.receive(buf, 1, sizeof buf, 999), Utils::NetErrorTimeout);
    _other.sendTo(_port, "late");
    EXPECT_EQ(receive(64), "late");
}

// The decoding thread reads in bursts: a datagram's time is when it came.
TEST_F(SDLUDPTest, ADatagramIsDatedByItsArrivalNotByItsRead)
{
    _other.sendTo(_port, "early");
    _listener.sel(999);
    const auto arrivedBefore = std::chrono::steady_clock::now();
    EXPECT_EQ(receive(64), "early");
    EXPECT_LT(_listener.arrivedAt(), arrivedBefore);
}

TEST_F(SDLUDPTest, LongDatagramIsServedOverSeveralReceives)
{
    const std::string big = pattern(4096, 5);
    const std::string next = pattern(100, 6);
    _other.sendTo(_port, big);
    _other.sendTo(_port, next);
    EXPECT_EQ(receive(2048), big.substr(0, 2048));
    EXPECT_EQ(receive(2048), big.substr(2048));
    EXPECT_EQ(receive(2048), next);

    // An odd request size, and a remainder served without waiting.
    _other.sendTo(_port, big);
    std::string got;
    while (got.size() < big.size())
        got += receive(1000, got.empty() ? 999 : 0);
    EXPECT_EQ(got, big);
}

TEST_F(SDLUDPTest, DatagramLargerThan16KiBArrivesWhole)
{
    const std::string big = pattern(40000, 7);
    _other.sendTo(_port, big);
    EXPECT_EQ(receive(65536), big);
    const std::string largest = pattern(65507, 8);
    _other.sendTo(_port, largest);
    EXPECT_EQ(receive(65536), largest);
}

TEST_F(SDLUDPTest, AnySenderIsAccepted)
{
    PlainUdp stranger;
    stranger.sendTo(_port, "from a stranger");
    EXPECT_EQ(receive(64), "from a stranger");
    EXPECT_EQ(_listener.accept({}), nullptr);
}

TEST(SDLUDPSetup, PortInUseFails)
{
    const int port = TestHelpers::freePort(true);
    SDLUDP first;
    first.setupListen(port);
    SDLUDP second;
    testing::internal::CaptureStdout();
    EXPECT_THROW(second.setupListen(port), Utils::NetErrorCreateSocket);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("SDLNet_UDP_Open: ", 0), 0u);
}

TEST(SDLUDPSetup, SendingInstanceHasNoSet)
{
    SDLUDP sender;
    sender.setupSend("127.0.0.1", 9);
    testing::internal::CaptureStdout();
    EXPECT_NO_THROW(sender.sel(10));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Net::sel called without set set\n");
}

} // namespace
