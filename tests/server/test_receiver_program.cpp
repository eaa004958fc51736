// locks: ports sink
#include "test_helpers/child_process.h"
#include "test_helpers/flood.h"
#include "test_helpers/loopback.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/receiver_fixture.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/udp_streamer.h"
#include "test_helpers/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;
using TestHelpers::TcpClient;

namespace {

class ReceiverProgram : public TestHelpers::ReceiverFixture {};

} // namespace

TEST_F(ReceiverProgram, PlaysAStreamAndStopsWhenTheControllerLeaves)
{
    TestHelpers::OggParams params;
    params.seconds = 5;
    const auto stream = TestHelpers::encodeOgg(params);

    TestHelpers::SinkRecorder recorder;
    recorder.start();
    TcpClient controller;
    startRun(controller);
    expectPlayed(recorder, stream);
    EXPECT_EQ(veldrane->countLines("UNDERRUN"), 0);

    // The console lines of a normal start, in order.
    const std::vector<std::string> expected = {
        "lytter på port 8888",
        "ServerCmd: koblet til",
        "AudioReceiver::onStartTransmission()",
        "bruker port 6666",
        "AudioReceiver: net initiert",
        "AudioReceiver: _aio initiert",
        "Audio dekoder initiert",
        "starter dekoding",
    };
    const auto out = veldrane->lines(ChildProcess::Stream::Out);
    auto at = out.begin();
    for (const auto& line : expected) {
        at = std::find(at, out.end(), line);
        ASSERT_NE(at, out.end()) << "missing or out of order: " << line;
    }

    controller.close();
    ASSERT_TRUE(veldrane->waitForStdout("connection broken", 3s));
    ASSERT_TRUE(veldrane->waitForStdout("AudioReceiver::onConnectionBroken()", 3s));
    ASSERT_TRUE(veldrane->waitForStdout("dekoding stoppet", 3s));
    EXPECT_TRUE(TestHelpers::waitFor([] { return TestHelpers::portFree(audioPort); }, 2s));

    // A second controller gets a fresh run.
    TcpClient second;
    connect(second);
    ASSERT_TRUE(second.send("startTransmission\r\n"));
    expectReply(second, "udpReady 6666 ");
    EXPECT_EQ(veldrane->countLines("bruker port 6666"), 2);
}

TEST_F(ReceiverProgram, RetriesAfterGarbageAndThenPlays)
{
    TestHelpers::OggParams params;
    params.seconds = 3;
    const auto stream = TestHelpers::encodeOgg(params);

    TestHelpers::SinkRecorder recorder;
    recorder.start();
    TcpClient controller;
    startRun(controller);
    // Garbage, and the start of the stream cut short: neither may spoil the
    // attempt that follows.
    auto garbage = TestHelpers::splitDatagrams(TestHelpers::garbageBytes(100 * 1024), 1024);
    auto cut = TestHelpers::splitDatagrams(stream, 1024);
    cut.resize(3);
    garbage.insert(garbage.end(), cut.begin(), cut.end());
    TestHelpers::sendDatagrams(audioPort, garbage);
    expectReply(controller, "initTransmissionFailed ");
    ASSERT_TRUE(veldrane->waitForStdout("ServerCmd::initTransmissionFailed(): initTransmissionFailed", 3s));
    TestHelpers::sendDatagrams(audioPort, cut); // late leftovers of the failed attempt

    ASSERT_TRUE(controller.send("startTransmissionAgain"));
    ASSERT_TRUE(veldrane->waitForStdout("AudioReceiver::onStartTransmissionAgain()", 3s));
    expectReply(controller, "udpReady 6666 ");
    expectPlayed(recorder, stream);
}

TEST_F(ReceiverProgram, GivesUpAfterFiveAttemptsAndStartsAFreshRunLater)
{
    TcpClient controller;
    connect(controller);
    ASSERT_TRUE(controller.send("startTransmission"));
    for (int attempt = 1; attempt <= 5; ++attempt) {
        expectReply(controller, "udpReady 6666 ");
        // Nothing is sent: the opening times out.
        expectReply(controller, "initTransmissionFailed ", 5s);
        if (attempt < 5) {
            ASSERT_TRUE(controller.send("startTransmissionAgain"));
        }
    }
    ASSERT_TRUE(
        veldrane->waitForStdout("AudioReceiver::threadMain(): client failed to initialize, giving up", 3s));
    EXPECT_TRUE(TestHelpers::waitFor([] { return TestHelpers::portFree(audioPort); }, 2s));

    // A sixth permission changes nothing; a new start does.
    ASSERT_TRUE(controller.send("startTransmissionAgain"));
    EXPECT_EQ(controller.readFor(700ms), "");
    ASSERT_TRUE(controller.send("startTransmission"));
    expectReply(controller, "udpReady 6666 ");
    EXPECT_EQ(veldrane->countLines("bruker port 6666"), 2);
    EXPECT_EQ(veldrane->countLines("starter dekoding"), 0);
}

TEST_F(ReceiverProgram, DisconnectWhileWaitingForPermissionEndsTheRunQuickly)
{
    TcpClient controller;
    connect(controller);
    ASSERT_TRUE(controller.send("startTransmission startTransmission"));
    expectReply(controller, "udpReady 6666 ");
    expectReply(controller, "initTransmissionFailed ", 5s);
    EXPECT_EQ(veldrane->countLines("AudioReceiver::onStartTransmission()"), 2);
    EXPECT_EQ(veldrane->countLines("bruker port 6666"), 1);

    controller.close();
    ASSERT_TRUE(veldrane->waitForStdout("AudioReceiver::onConnectionBroken()", 3s));
    ASSERT_TRUE(TestHelpers::waitFor([] { return TestHelpers::portFree(audioPort); }, 3s));
    EXPECT_EQ(veldrane->countLines("client failed to initialize"), 0);
}

TEST_F(ReceiverProgram, AStallIsSilenceAndEveryFramePlaysOnceInOrder)
{
    TestHelpers::OggParams params;
    params.seconds = 6;
    const auto stream = TestHelpers::encodeOgg(params);
    const auto reference = TestHelpers::referenceDecode(stream);
    auto datagrams = TestHelpers::splitDatagrams(stream, 1024);

    TestHelpers::SinkRecorder recorder;
    recorder.start();
    TcpClient controller;
    startRun(controller);
    TestHelpers::UdpStreamer::Options pacing;
    pacing.pauseBefore = datagrams.size() / 3;
    pacing.pause = 2000ms;
    TestHelpers::UdpStreamer streamer(audioPort, datagrams, pacing);
    ASSERT_TRUE(veldrane->waitForStderr("AudioReceiver: read error", 10s));
    EXPECT_TRUE(veldrane->waitForStdout("vorbisDecoder: EOF", 1s));
    ASSERT_TRUE(streamer.waitDone(20s));
    ASSERT_TRUE(recorder.waitForSound(reference.size() / 2 + 3 * TestHelpers::receiverBufferFrames, 20s));
    recorder.stop();

    // The device played silence while nothing came, never an old buffer,
    // and the frames decoded before the stall were not thrown away.
    TestHelpers::expectPlayedInOrder(recorder.samples(), reference);
    heard(recorder.samples());
    EXPECT_EQ(veldrane->countLines("starter dekoding"), 1);
}

// One receiver serves run after run for months: whatever the runs before
// did, a clean run plays whole, with no gap, at speed 1 (the fixture reads
// every run's end-of-run line against its recording).
TEST_F(ReceiverProgram, CleanRunsPlayWholeAfterRunsThatEndedEveryWay)
{
    uint32_t serial = 100;
    const auto cleanRun = [&] {
        TestHelpers::OggParams params;
        params.seconds = 4;
        params.serial = ++serial;
        TestHelpers::SinkRecorder recorder;
        recorder.start();
        TcpClient controller;
        startRun(controller);
        expectPlayed(recorder, TestHelpers::encodeOgg(params));
        EXPECT_EQ(TestHelpers::silencesWithin(recorder.samples(), 441).count, 0) << "clean run " << serial;
    };
    TcpClient gaveUp;
    connect(gaveUp);
    ASSERT_TRUE(gaveUp.send("startTransmission"));
    for (int attempt = 1; attempt <= 5; ++attempt) {
        expectReply(gaveUp, "udpReady 6666 ");
        expectReply(gaveUp, "initTransmissionFailed ", 5s);
        ASSERT_TRUE(gaveUp.send("startTransmissionAgain"));
    }
    ASSERT_TRUE(veldrane->waitForStdout("giving up", 3s));
    gaveUp.close();
    cleanRun();
    {
        TcpClient left;
        startRun(left);
        TestHelpers::OggParams params;
        params.seconds = 4;
        TestHelpers::UdpStreamer half(audioPort,
                                      TestHelpers::splitDatagrams(TestHelpers::encodeOgg(params), 1024),
                                      TestHelpers::UdpStreamer::Options{});
        ASSERT_TRUE(veldrane->waitForStdout("starter dekoding", 5s));
    }
    cleanRun();
    {
        TcpClient junk;
        connect(junk);
        TestHelpers::flood(
            junk.fd(), [] { return std::string(1024, '\x1b'); }, 1 << 20, 10s);
    }
    cleanRun();
    {
        ASSERT_TRUE(TestHelpers::waitFor([] { return TestHelpers::portFree(audioPort); }, 3s));
        const TestHelpers::LoopbackSocket other(TestHelpers::LoopbackSocket::Kind::Udp, audioPort, true);
        ASSERT_TRUE(other.bound());
        TcpClient busy;
        connect(busy);
        ASSERT_TRUE(busy.send("startTransmission"));
        expectReply(busy, "initTransmissionFailed ");
    }
    cleanRun();
    cleanRun();
}
