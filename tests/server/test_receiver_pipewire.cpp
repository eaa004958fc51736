// locks: ports sink
#include "test_helpers/child_process.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/pipewire_server.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/udp_streamer.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;

// Debian 12's desktop plays through PipeWire's PulseAudio server, not
// PulseAudio itself; the receiver must sound the same there.
TEST(ReceiverOnPipeWire, PlaysAStreamThroughPipeWirePulse)
{
    const std::string sink = "veldrane_pipewire";
    TestHelpers::PipeWireServer pipewire(sink);
    if (!pipewire.started())
        GTEST_SKIP() << "PipeWire did not start here: " << pipewire.whyNot();
    // The receiver and the recorder (parec) inherit these.
    setenv("PULSE_SERVER", pipewire.pulseServer().c_str(), 1);
    setenv("VELDRANE_SINK", sink.c_str(), 1);

    TestHelpers::OggParams params;
    params.seconds = 4;
    const auto stream = TestHelpers::encodeOgg(params);
    const auto reference = TestHelpers::referenceDecode(stream);

    ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane.waitForStdout("lytter på port 8888", 10s));
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    TestHelpers::TcpClient controller;
    ASSERT_TRUE(controller.connect(8888, 5s));
    ASSERT_TRUE(controller.send("startTransmission"));
    ASSERT_EQ(controller.readUntil("udpReady 6666 ", 10s), "udpReady 6666 ") << controller.buffered();

    TestHelpers::UdpStreamer streamer(6666, TestHelpers::splitDatagrams(stream, 1024),
                                      TestHelpers::UdpStreamer::Options{});
    ASSERT_TRUE(recorder.waitForSound(reference.size() / 2 + 2 * TestHelpers::receiverBufferFrames, 20s));
    recorder.stop();

    TestHelpers::expectPlayedInOrder(recorder.samples(), reference);
    EXPECT_TRUE(veldrane.isRunning());
}
