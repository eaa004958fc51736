#include "test_helpers/receiver_fixture.h"

#include "test_helpers/flood.h"
#include "test_helpers/loopback.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/udp_streamer.h"

#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;

namespace TestHelpers {

void ReceiverFixture::SetUp()
{
    ASSERT_TRUE(portFree(audioPort)) << "port 6666 is in use by another program";
    veldrane = std::make_unique<ChildProcess>(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane->waitForStdout("lytter på port 8888", 10s));
}

namespace {

constexpr const char* endOfRun = "AudioReceiver: played";

} // namespace

void ReceiverFixture::TearDown()
{
    if (veldrane) {
        EXPECT_TRUE(veldrane->isRunning()) << "the receiver ended";
        for (const Heard& run : _heard)
            expectToldTruly(run);
        // What the receiver said, for a failure seen only on another machine.
        if (HasFailure())
            for (const std::string& line : veldrane->lines())
                std::fprintf(stderr, "veldrane: %s\n", line.c_str());
    }
}

void ReceiverFixture::heard(const std::vector<float>& recording, bool runEnded)
{
    const Silences silent = silencesWithin(recording, 441);
    _heard.push_back({veldrane->countLines(endOfRun) - (runEnded ? 1 : 0), silent.count, silent.frames});
}

// A gap of the line may be a silence the recording shows as two, or as one
// with a neighbour; each is told to within a buffer.
void ReceiverFixture::expectToldTruly(const Heard& run)
{
    ASSERT_TRUE(veldrane->waitForCount(endOfRun, run.reportsBefore + 1, 10s)) << "the run never ended";
    std::vector<std::string> reports;
    for (const std::string& line : veldrane->lines(ChildProcess::Stream::Err))
        if (line.find(endOfRun) != std::string::npos)
            reports.push_back(line);
    const std::string& line = reports.at(static_cast<std::size_t>(run.reportsBefore));
    long gaps = -1, silentMs = -1;
    std::sscanf(line.c_str() + line.find("; ") + 2, "%ld gaps, %ld ms", &gaps, &silentMs);
    EXPECT_NE(line.find("speed 1.000000 to 1.000000"), std::string::npos) << line;
    EXPECT_GE(gaps, run.silences) << line;
    const auto heardMs = static_cast<long>(run.silentFrames * 1000 / 44100);
    EXPECT_LE(std::labs(silentMs - heardMs), 186 * std::max(1L, run.silences))
        << line << "; heard " << heardMs << " ms";
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
    heard(recorder.samples());
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
