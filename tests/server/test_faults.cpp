// locks: ports sink
// Faults around a run that the receiver must come through: each case ends
// with a normal run played bit-exact by the same process.
#include "test_helpers/loopback.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/receiver_fixture.h"
#include "test_helpers/sound_server.h"
#include "test_helpers/udp_streamer.h"
#include "test_helpers/wait.h"

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using TestHelpers::TcpClient;

namespace {

class Faults : public TestHelpers::ReceiverFixture {};

// The sound-server cases: a daemon of the test's own, which it freezes or
// kills, and a receiver that plays to it.
class SoundServerFaults : public TestHelpers::ReceiverFixture {
protected:
    void SetUp() override
    {
        server = std::make_unique<TestHelpers::SoundServer>();
        ASSERT_TRUE(server->running());
        ReceiverFixture::SetUp();
    }

    // Starts a run and plays a long stream until decoding is under way.
    void startPlaying(TcpClient& controller)
    {
        startRun(controller);
        TestHelpers::OggParams params;
        params.seconds = 20;
        streamer = std::make_unique<TestHelpers::UdpStreamer>(
            audioPort, TestHelpers::splitDatagrams(TestHelpers::encodeOgg(params), 1024),
            TestHelpers::UdpStreamer::Options{});
        ASSERT_TRUE(veldrane->waitForStdout("starter dekoding", 5s));
    }

    void TearDown() override
    {
        streamer.reset();
        ReceiverFixture::TearDown();
        veldrane.reset();
        server.reset();
    }

    std::unique_ptr<TestHelpers::SoundServer> server;
    std::unique_ptr<TestHelpers::UdpStreamer> streamer;
};

} // namespace

TEST_F(Faults, APortTakenThenFreedPlaysOnStartTransmissionAgain)
{
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    TcpClient controller;
    connect(controller);
    {
        const TestHelpers::LoopbackSocket other(TestHelpers::LoopbackSocket::Kind::Udp, audioPort, true);
        ASSERT_TRUE(other.bound());
        ASSERT_TRUE(controller.send("startTransmission"));
        expectReply(controller, "initTransmissionFailed ");
        EXPECT_TRUE(veldrane->waitForStderr("AudioReceiver: cannot receive on UDP port 6666", 3s));
    }
    ASSERT_TRUE(controller.send("startTransmissionAgain"));
    expectReply(controller, "udpReady 6666 ");
    TestHelpers::OggParams params;
    params.seconds = 2;
    expectPlayed(recorder, TestHelpers::encodeOgg(params));
}

TEST_F(Faults, ARunsRepliesNeverReachTheNextController)
{
    TcpClient first;
    connect(first);
    ASSERT_TRUE(first.send("startTransmission"));
    expectReply(first, "udpReady 6666 ");
    expectReply(first, "initTransmissionFailed ");
    // A retry, and gone at once; another controller is already waiting.
    TcpClient second;
    ASSERT_TRUE(second.connect(controlPort, 5s));
    ASSERT_TRUE(first.send("startTransmissionAgain"));
    first.close();
    ++greetings;
    ASSERT_TRUE(veldrane->waitForCount("ServerCmd: koblet til", greetings, 5s));
    ASSERT_TRUE(veldrane->waitForStdout("AudioReceiver::onConnectionBroken()", 3s));
    // Whatever the first run still said went nowhere: the second
    // controller hears only the answer to its own word.
    ASSERT_TRUE(second.send("alive 5"));
    EXPECT_EQ(second.readUntil("alive 5 ", 3s), "alive 5 ");
    second.close();
    expectNormalRun();
}

TEST_F(SoundServerFaults, AFrozenServerCannotHoldTheRunWhenTheControllerLeaves)
{
    TcpClient controller;
    startPlaying(controller);
    server->freeze();
    controller.close();
    EXPECT_TRUE(veldrane->waitForStdout("dekoding stoppet", 2s));
    server->thaw();
    ASSERT_TRUE(server->waitUntilNoStreams(5s));
    expectNormalRun();
}

TEST_F(SoundServerFaults, ARunThatPlayedAndThenFailedEveryAttemptSaysItGivesUp)
{
    TcpClient controller;
    startPlaying(controller);
    server->kill();
    for (int failed = 1; failed < 5; ++failed) {
        expectReply(controller, "initTransmissionFailed ");
        ASSERT_TRUE(controller.send("startTransmissionAgain"));
    }
    expectReply(controller, "initTransmissionFailed ");
    EXPECT_TRUE(
        veldrane->waitForStdout("AudioReceiver::threadMain(): client failed to initialize, giving up", 5s));
}

TEST_F(SoundServerFaults, AKilledServerEndsTheAttemptAndARetryPlaysOnItsSuccessor)
{
    TcpClient controller;
    startPlaying(controller);
    server->kill();
    expectReply(controller, "initTransmissionFailed ");
    EXPECT_TRUE(veldrane->waitForStderr("AudioReceiver: the audio output failed", 3s));
    streamer.reset();
    ASSERT_TRUE(server->start());

    TestHelpers::SinkRecorder recorder;
    recorder.start();
    ASSERT_TRUE(controller.send("startTransmissionAgain"));
    expectReply(controller, "udpReady 6666 ");
    TestHelpers::OggParams params;
    params.seconds = 2;
    expectPlayed(recorder, TestHelpers::encodeOgg(params));
}
