#include "server/servercmd.h"
#include "test_helpers/loopback.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/wait.h"
#include "utils/errors.h"
#include "utils/observer.h"
#include "wrappers/net.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using TestHelpers::TcpClient;
using TestHelpers::waitFor;

namespace {

// Records deliveries of the server's signals and the thread they ran on.
class Recorder {
public:
    void onAgain(int) { record("again"); }
    void onStart(int) { record("start"); }
    void onBroken(int) { record("broken"); }

    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _events;
    }
    int count(const std::string& name)
    {
        int n = 0;
        for (const auto& e : events())
            n += e == name;
        return n;
    }
    bool allOn(std::thread::id id)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        for (auto t : _threads)
            if (t != id)
                return false;
        return true;
    }

private:
    void record(const char* name)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _events.push_back(name);
        _threads.push_back(std::this_thread::get_id());
    }

    std::mutex _mutex;
    std::vector<std::string> _events;
    std::vector<std::thread::id> _threads;
};

class ServerCmdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        _port = TestHelpers::freePort();
        ASSERT_GT(_port, 0);
        _server = std::make_unique<Server::ServerCmd>(_port);
        _server->_startTransmissionAgainSignal.connect(&_recorder, &Recorder::onAgain);
        _server->_startTransmissionSignal.connect(&_recorder, &Recorder::onStart);
        _server->_connectionBrokenSignal.connect(&_recorder, &Recorder::onBroken);
        _server->startThread();
    }

    void TearDown() override
    {
        _server.reset();
        Utils::Signal::run();
    }

    // Connects and waits until the server serves this client: it answers
    // an "alive" only once it has accepted the connection.
    void connectServed(TcpClient& client, int token = 424242, std::chrono::milliseconds timeout = 10s)
    {
        ASSERT_TRUE(client.connect(_port));
        ASSERT_TRUE(client.send("alive " + std::to_string(token) + " "));
        const std::string reply = "alive " + std::to_string(token) + " ";
        ASSERT_EQ(client.readBytes(reply.size(), timeout), reply);
    }

    std::string ask(TcpClient& client, const std::string& words, size_t replyBytes)
    {
        EXPECT_TRUE(client.send(words));
        return client.readBytes(replyBytes, 5s);
    }

    // The test thread plays the main thread: it is the one delivering.
    bool deliverUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout = 5s)
    {
        return waitFor(
            [&] {
                Utils::Signal::run();
                return cond();
            },
            timeout);
    }

    int _port = 0;
    Recorder _recorder;
    std::unique_ptr<Server::ServerCmd> _server;
};

TEST_F(ServerCmdTest, AliveIsAnsweredByteForByte)
{
    TcpClient client;
    connectServed(client);
    testing::internal::CaptureStderr();

    EXPECT_EQ(ask(client, "alive 7", 8), "alive 7 ");
    EXPECT_EQ(ask(client, "alive 007", 8), "alive 7 ");
    EXPECT_EQ(ask(client, "alive -3", 9), "alive -3 ");
    EXPECT_EQ(ask(client, "alive +5", 8), "alive 5 ");
    EXPECT_EQ(ask(client, "alive 12abc", 9), "alive 12 ");
    EXPECT_EQ(ask(client, "alive\t\n 9\r\n", 8), "alive 9 ");
    EXPECT_EQ(ask(client, "alive 99999999999", 17), "alive 2147483647 ");
    EXPECT_EQ(ask(client, "alive -99999999999", 18), "alive -2147483648 ");
    // No number: answered with 0, and the word that followed still counts.
    EXPECT_EQ(ask(client, "alive startTransmission", 8), "alive 0 ");
    EXPECT_EQ(ask(client, "alive", 8), "alive 0 ");
    EXPECT_EQ(ask(client, "alive -x alive 4", 16), "alive 0 alive 4 ");
    // Case matters: two unknown words, then only the lower-case one answers.
    EXPECT_EQ(ask(client, "Alive 3 alive 1", 8), "alive 1 ");

    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ServerCmd: Ukjent signal: abc\n"), std::string::npos);
    EXPECT_NE(err.find("ServerCmd: Ukjent signal: -x\n"), std::string::npos);
    EXPECT_NE(err.find("ServerCmd: Ukjent signal: Alive\nServerCmd: Ukjent signal: 3\n"), std::string::npos);
    EXPECT_EQ(err.find("Ukjent signal: startTransmission"), std::string::npos);
    EXPECT_TRUE(deliverUntil([&] { return _recorder.count("start") == 1; }));
    EXPECT_EQ(client.readFor(200ms), "");
}

TEST_F(ServerCmdTest, WordsOfOneChunkActInOrderAndSignalsReachTheMainThread)
{
    TcpClient client;
    connectServed(client);

    EXPECT_EQ(ask(client, "startTransmission startTransmissionAgain alive 3", 8), "alive 3 ");
    EXPECT_EQ(ask(client, "startTransmission\r\nalive 1\r\n", 8), "alive 1 ");
    ASSERT_TRUE(deliverUntil([&] { return _recorder.events().size() == 2; }));
    Utils::Signal::run();
    // Within one pass signals are delivered in the order of their
    // construction, and raises of one signal waiting for the same pass
    // count as one.
    std::vector<std::string> expected{"again", "start"};
    EXPECT_EQ(_recorder.events(), expected);

    client.close();
    ASSERT_TRUE(deliverUntil([&] { return _recorder.count("broken") == 1; }));
    EXPECT_TRUE(_recorder.allOn(std::this_thread::get_id()));
}

TEST_F(ServerCmdTest, RepliesQueuedByAnotherThreadGoOutAtTheNextFlush)
{
    // Before any controller: dropped, nothing is kept for the first one.
    _server->sendUdpReady(1111);
    _server->initTransmissionFailed();

    TcpClient client;
    connectServed(client);
    std::thread other([this] {
        _server->sendUdpReady(6666);
        _server->initTransmissionFailed();
        _server->sendReadError();
    });
    other.join();
    const std::string expected = "udpReady 6666 initTransmissionFailed readerror ";
    EXPECT_EQ(client.readBytes(expected.size(), 5s), expected);
    EXPECT_EQ(client.readFor(300ms), "");
}

TEST_F(ServerCmdTest, SecondControllerWaitsAndGetsNothingMeantForTheFirst)
{
    TcpClient first;
    connectServed(first, 1);

    TcpClient second;
    ASSERT_TRUE(second.connect(_port));
    ASSERT_TRUE(second.send("alive 2 "));
    EXPECT_EQ(second.readFor(1500ms), "");
    EXPECT_EQ(ask(first, "alive 3", 8), "alive 3 ");

    first.close();
    ASSERT_TRUE(deliverUntil([&] { return _recorder.count("broken") == 1; }));
    // Queued after the break and before the next controller: dropped.
    _server->sendUdpReady(6666);

    EXPECT_EQ(second.readBytes(8, 10s), "alive 2 ");
    EXPECT_EQ(ask(second, "alive 4", 8), "alive 4 ");
    EXPECT_EQ(second.readFor(300ms), "");
    EXPECT_EQ(_recorder.count("broken"), 1);
}

TEST_F(ServerCmdTest, WordsCutByTheReadLimitAreJoined)
{
    TcpClient client;
    connectServed(client);
    testing::internal::CaptureStderr();

    // A word across the 256-byte boundary of one 300-byte burst.
    std::string burst = "alive 1" + std::string(250 - 7, ' ') + "startTransmission alive 5 ";
    burst += std::string(300 - burst.size(), ' ');
    ASSERT_EQ(burst.size(), 300u);
    EXPECT_EQ(ask(client, burst, 16), "alive 1 alive 5 ");

    // "alive" ends the first read; its number is in the second.
    burst = std::string(251, ' ') + "alive 77 " + std::string(40, ' ');
    EXPECT_EQ(ask(client, burst, 9), "alive 77 ");

    // The number itself is cut.
    burst = std::string(248, ' ') + "alive 12345 alive 6 ";
    EXPECT_EQ(ask(client, burst, 20), "alive 12345 alive 6 ");

    // Many words, none lost.
    std::string many;
    std::string replies;
    for (int i = 0; many.size() < 300; ++i) {
        many += "alive " + std::to_string(i) + " ";
        replies += "alive " + std::to_string(i) + " ";
    }
    EXPECT_EQ(ask(client, many, replies.size()), replies);

    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    EXPECT_TRUE(deliverUntil([&] { return _recorder.count("start") == 1; }));
}

TEST_F(ServerCmdTest, WordSplitByAPauseStaysTwoWords)
{
    TcpClient client;
    connectServed(client);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(client.send("startTrans"));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(ask(client, "mission alive 1", 8), "alive 1 ");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "ServerCmd: Ukjent signal: startTrans\nServerCmd: Ukjent signal: mission\n");
    Utils::Signal::run();
    EXPECT_EQ(_recorder.count("start"), 0);
}

TEST_F(ServerCmdTest, AWordLeftOpenCountsWhenItsConnectionCloses)
{
    TcpClient client;
    connectServed(client);
    ASSERT_TRUE(client.send("startTransmission"));
    client.close();
    ASSERT_TRUE(deliverUntil([this] { return _recorder.count("broken") == 1; }));
    EXPECT_EQ(_recorder.events(), (std::vector<std::string>{"start", "broken"}));
}

TEST_F(ServerCmdTest, BadInputLosesNoLaterCommand)
{
    TcpClient client;
    connectServed(client);
    testing::internal::CaptureStderr();

    std::string binary;
    for (int i = 1; i < 2048; ++i)
        binary += static_cast<char>((i * 37) & 0xff);
    ASSERT_TRUE(client.send(binary));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ask(client, "alive 1", 8), "alive 1 ");

    // A zero byte separates words like whitespace.
    EXPECT_EQ(ask(client,
                  std::string("alive 2\0alive\0\0"
                              "3",
                              16),
                  16),
              "alive 2 alive 3 ");
    EXPECT_EQ(ask(client, std::string(100, '\0'), 0), "");
    EXPECT_EQ(ask(client, " alive 4", 8), "alive 4 ");

    // One MiB of text without a single command in it, then commands.
    std::string junk;
    while (junk.size() < (1u << 20))
        junk += "xyzzy " + std::string(300, 'q') + "\n";
    ASSERT_TRUE(client.send(junk));
    EXPECT_EQ(ask(client, " startTransmission alive 43\n", 9), "alive 43 ");
    EXPECT_EQ(ask(client, "alive 44", 9), "alive 44 ");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ServerCmd: Ukjent signal: xyzzy\n"), std::string::npos);
    EXPECT_EQ(err.find("Ukjent signal: startTransmission"), std::string::npos);
    EXPECT_TRUE(deliverUntil([&] { return _recorder.count("start") == 1; }));
    EXPECT_EQ(_recorder.count("broken"), 0);
}

TEST_F(ServerCmdTest, ConnectAndCloseStormLeavesTheServerServing)
{
    // Each stormer is accepted in turn (about a second each), is found
    // gone and is dropped; half of them leave with a reset.
    constexpr int storm = 4;
    for (int i = 0; i < storm; ++i) {
        TcpClient c;
        ASSERT_TRUE(c.connect(_port));
        if (i % 2) {
            linger l{1, 0};
            setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
    }
    TcpClient client;
    connectServed(client, 5, 20s);
    // Breaks that wait for the same pass are delivered as one.
    EXPECT_TRUE(deliverUntil([&] { return _recorder.count("broken") >= 1; }));
    EXPECT_LE(_recorder.count("broken"), storm);
    EXPECT_EQ(ask(client, "alive 6", 8), "alive 6 ");
}

TEST_F(ServerCmdTest, ControllerThatStopsReadingIsDroppedWhenItCloses)
{
    TcpClient client;
    connectServed(client);
    ASSERT_TRUE(client.send("alive 1 alive 2 "));
    client.close();
    ASSERT_TRUE(deliverUntil([&] { return _recorder.count("broken") == 1; }));
    TcpClient next;
    connectServed(next, 9);
    EXPECT_EQ(next.readFor(200ms), "");
}

// ~ServerCmd must return however its thread is waiting. A hang aborts:
// nothing else could end the test.
void expectDestructionReturns(const std::function<void(int port)>& meanwhile, const char* when)
{
    std::atomic<bool> done{false};
    std::thread t([&] {
        {
            const int port = TestHelpers::freePort();
            Server::ServerCmd server(port);
            server.startThread();
            meanwhile(port);
        }
        done = true;
    });
    if (!waitFor([&] { return done.load(); }, 10s)) {
        ADD_FAILURE() << "~ServerCmd does not return " << when;
        std::abort();
    }
    t.join();
}

TEST(ServerCmdLifetime, DestroyedWhileWaitingForAController)
{
    expectDestructionReturns([](int) { std::this_thread::sleep_for(200ms); },
                             "while no controller is connected");
}

// The server sleeps until a silent controller sends something; the stop
// must end that sleep.
TEST(ServerCmdLifetime, DestroyedWhileServingASilentController)
{
    TcpClient client; // connected until after the server is gone
    expectDestructionReturns(
        [&client](int port) {
            ASSERT_TRUE(client.connect(port));
            ASSERT_TRUE(client.send("alive 1 "));
            ASSERT_EQ(client.readBytes(8, 10s), "alive 1 ");
        },
        "while it serves a silent controller");
}

} // namespace

TEST(ServerCmdController, AListenerForAControllerThatHasGoneHearsNoOne)
{
    // A run that starts just as its controller leaves finds it gone.
    std::weak_ptr<Wrappers::Net> gone;
    {
        auto controller = std::make_shared<Wrappers::Net>();
        gone = controller;
    }
    const int port = TestHelpers::freePort(true);
    ASSERT_GT(port, 0);
    Wrappers::Net listener;
    listener.setupListen(port, Wrappers::ConnectionType::UDP);
    Server::ServerCmd::hearOnly(gone, listener);

    TestHelpers::LoopbackSocket stranger(TestHelpers::LoopbackSocket::Kind::Udp);
    const char datagram[] = "OggS";
    stranger.sendTo(port, datagram, sizeof datagram);
    bool heard = false;
    const auto takenOrDropped = [&] {
        try {
            char buffer[64];
            heard = listener.receive(buffer, sizeof buffer, 1, 10) > 0;
        } catch (const Utils::NetErrorTimeout&) {
        }
        return heard || listener.drops().datagrams() > 0;
    };
    ASSERT_TRUE(waitFor(takenOrDropped, 5s));
    EXPECT_FALSE(heard) << "a datagram from 127.0.0.1 reached a run whose controller has gone";
}
