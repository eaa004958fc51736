#include "test_helpers/receiver_fixture.h"

#include "test_helpers/flood.h"
#include "test_helpers/loopback.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/udp_streamer.h"

using namespace std::chrono_literals;

namespace TestHelpers {

void ReceiverFixture::SetUp()
{
    ASSERT_TRUE(portFree(audioPort)) << "port 6666 is in use by another program";
    veldrane = std::make_unique<ChildProcess>(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane->waitForStdout("lytter på port 8888", 10s));
}

void ReceiverFixture::TearDown()
{
    if (veldrane) {
        EXPECT_TRUE(veldrane->isRunning()) << "the receiver ended";
    }
}

void ReceiverFixture::connect(TcpClient& controller)
{
    ASSERT_TRUE(controller.connect(controlPort, 5s));
    ++greetings;
    ASSERT_TRUE(veldrane->waitForCount("ServerCmd: koblet til", greetings, 5s));
}

void ReceiverFixture::expectReply(TcpClient& controller, const std::string& reply,
                                  std::chrono::milliseconds timeout)
{
    EXPECT_EQ(controller.readUntil(reply, timeout), reply)
        << "still waiting for \"" << reply << "\"; got \"" << controller.buffered() << "\"";
}

void ReceiverFixture::startRun(TcpClient& controller)
{
    connect(controller);
    ASSERT_TRUE(controller.send("startTransmission"));
    expectReply(controller, "udpReady 6666 ");
}

void ReceiverFixture::expectPlayed(SinkRecorder& recorder, const Bytes& stream)
{
    const auto reference = referenceDecode(stream);
    UdpStreamer streamer(audioPort, splitDatagrams(stream, 1024), UdpStreamer::Options{});
    ASSERT_TRUE(recorder.waitForSound(reference.size() / 2 + 2 * receiverBufferFrames, 20s));
    recorder.stop();
    expectPlayedInOrder(recorder.samples(), reference);
}

void ReceiverFixture::expectNormalRun()
{
    OggParams params;
    params.seconds = 2;
    params.serial = 77;
    SinkRecorder recorder;
    recorder.start();
    TcpClient controller;
    startRun(controller);
    expectPlayed(recorder, encodeOgg(params));
}

long ReceiverFixture::residentKb() const
{
    return residentKiB(veldrane->pid());
}

} // namespace TestHelpers
