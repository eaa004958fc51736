#include "test_helpers/tcp_client.h"
#include "test_helpers/wait.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using TestHelpers::TcpClient;
using Wrappers::ConnectionType;
using Wrappers::Net;

namespace {

// A listening Net and one accepted controller-side Net, with the test's
// client on the other end.
class NetTcpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const int port = TestHelpers::freePort();
        _listener.setupListen(port, ConnectionType::TCP);
        ASSERT_TRUE(_client.connect(port));
        _peer.reset(_listener.accept());
        ASSERT_TRUE(_peer);
    }

    Net _listener;
    TcpClient _client;
    std::unique_ptr<Net> _peer;
};

TEST_F(NetTcpTest, QueuedCommandsLeaveEachFollowedByOneSpace)
{
    _peer->sendCommands();
    EXPECT_EQ(_client.readFor(150ms), "");

    _peer->bufferCmd("alive 5");
    _peer->sendCommands();
    EXPECT_EQ(_client.readBytes(8, 2s), "alive 5 ");

    _peer->bufferCmd("udpReady 6666");
    _peer->bufferCmd("initTransmissionFailed");
    _peer->sendCommands();
    EXPECT_EQ(_client.readBytes(37, 2s), "udpReady 6666 initTransmissionFailed ");
    _peer->sendCommands();
    _peer->bufferCmd("readerror");
    _peer->sendCommands();
    EXPECT_EQ(_client.readFor(200ms), "readerror ");
}

TEST_F(NetTcpTest, CommandsQueuedFromManyThreadsAllLeaveOnce)
{
    constexpr int threads = 4;
    constexpr int each = 200;
    std::atomic<bool> stop{false};
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t)
        producers.emplace_back([this, t] {
            for (int i = 0; i < each; ++i)
                _peer->bufferCmd("c" + std::to_string(t) + "_" + std::to_string(i));
        });
    std::thread flusher([&] {
        while (!stop)
            _peer->sendCommands();
    });
    for (auto& p : producers)
        p.join();
    stop = true;
    flusher.join();
    _peer->sendCommands();

    std::string text = _client.readFor(500ms);
    std::vector<int> next(threads, 0);
    size_t pos = 0;
    int words = 0;
    while (pos < text.size()) {
        const size_t sp = text.find(' ', pos);
        ASSERT_NE(sp, std::string::npos);
        const std::string word = text.substr(pos, sp - pos);
        const int t = word[1] - '0';
        // Each producer's commands keep their order.
        EXPECT_EQ(word, "c" + std::to_string(t) + "_" + std::to_string(next[t]));
        ++next[t];
        ++words;
        pos = sp + 1;
    }
    EXPECT_EQ(words, threads * each);
}

TEST_F(NetTcpTest, ReceivedChunks)
{
    EXPECT_THROW(_peer->recvCmd(100), Utils::NetErrorTimeout);

    // Zero bytes are data like any other.
    ASSERT_TRUE(_client.send(std::string("abc\0def", 7)));
    EXPECT_EQ(_peer->recvCmd(1000), std::string("abc\0def", 7));

    ASSERT_TRUE(_client.send(std::string(300, 'x')));
    // Both halves of the burst are there before the first read.
    ASSERT_TRUE(_client.waitDelivered(5s));
    const std::string first = _peer->recvCmd(1000);
    EXPECT_LE(first.size(), 256u);
    std::string all = first;
    while (all.size() < 300)
        all += _peer->recvCmd(1000);
    EXPECT_EQ(all, std::string(300, 'x'));

    _client.close();
    EXPECT_THROW(_peer->recvCmd(1000), Utils::NetErrorFault);
}

TEST_F(NetTcpTest, FlushToAClosedPeerFailsAsASendError)
{
    _client.close();
    _peer->bufferCmd(std::string(1000, 'z'));
    // The first send may still be taken by the socket; later ones fail.
    EXPECT_TRUE(TestHelpers::waitFor(
        [&] {
            try {
                _peer->bufferCmd(std::string(1000, 'z'));
                _peer->sendCommands();
                return false;
            } catch (const Utils::NetErrorSend&) {
                return true;
            }
        },
        5s));
}

TEST_F(NetTcpTest, PeerThatDoesNotReadIsGivenUpAndNeverHoldsTheQueue)
{
    // The client never reads. Flushing must not wait for it: once the
    // socket's buffers are full the replies pile up in the queue, and past
    // its limit the connection counts as broken.
    std::atomic<bool> gaveUp{false};
    std::thread flusher([&] {
        try {
            for (;;) {
                _peer->bufferCmd(std::string(1000, 'z'));
                _peer->sendCommands();
            }
        } catch (const Utils::NetErrorSend&) {
            gaveUp = true;
        }
    });
    // Another thread queueing meanwhile is never held up by a send.
    const bool done = TestHelpers::waitFor(
        [&] {
            _peer->bufferCmd("udpReady 6666");
            return gaveUp.load();
        },
        30s);
    if (!done) {
        ADD_FAILURE() << "a flush to a peer that does not read never gives up";
        std::abort();
    }
    flusher.join();
    EXPECT_THROW(_peer->sendCommands(), Utils::NetErrorSend);
}

TEST(NetTest, GiveUpEndsAnAcceptWithoutPeer)
{
    Net listener;
    listener.setupListen(TestHelpers::freePort(), ConnectionType::TCP);
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop = true;
    });
    std::unique_ptr<Net> peer(listener.accept([&] { return stop.load(); }));
    stopper.join();
    EXPECT_FALSE(peer);
}

TEST(NetTest, UdpAcceptGivesANetWithoutTransport)
{
    Net udp;
    udp.setupListen(TestHelpers::freePort(true), ConnectionType::UDP);
    std::unique_ptr<Net> peer(udp.accept());
    ASSERT_TRUE(peer);
    char buf[16];
    EXPECT_THROW(peer->receive(buf, 1, 16, 10), Utils::NetErrorFault);
}

TEST(NetTest, DestructionLinesComeInOrder)
{
    testing::internal::CaptureStdout();
    {
        Net empty;
    }
    {
        Net udp;
        udp.setupListen(TestHelpers::freePort(true), ConnectionType::UDP);
    }
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    const size_t first = out.find("~Net()\ni: ");
    ASSERT_NE(first, std::string::npos);
    const size_t second = out.find("~Net()\ni: ", first + 1);
    ASSERT_NE(second, std::string::npos);
    const size_t udpLine = out.find("\n~SDLUDP()\n", second);
    EXPECT_NE(udpLine, std::string::npos);
    EXPECT_EQ(out.find("~SDLUDP()"), udpLine + 1);
}

TEST(NetTest, DestructionLinesCanBeTurnedOff)
{
    testing::internal::CaptureStdout();
    Utils::showTrace(false);
    {
        Net udp;
        udp.setupListen(TestHelpers::freePort(true), ConnectionType::UDP);
    }
    Utils::showTrace(true);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(NetTest, NetsConstructedOnSeveralThreadsAtOnce)
{
    std::vector<std::thread> threads;
    std::atomic<int> made{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                Net n;
                n.setupListen(0, ConnectionType::UDP);
                ++made;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(made, 160);
}

} // namespace
