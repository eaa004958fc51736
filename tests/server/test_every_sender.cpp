// locks: ports sink
// Senders that are not ours, over networks that are not clean: a live
// encoder sending each page when it is complete, datagrams lost,
// duplicated and reordered, an encoder that restarts. What each leaves of
// the stream is heard bit for bit, at its own time.
#include "test_helpers/ogg_maker.h"
#include "test_helpers/ogg_pages.h"
#include "test_helpers/played_at.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/receiver_fixture.h"
#include "test_helpers/udp_streamer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

using namespace std::chrono_literals;
using TestHelpers::Bytes;
using TestHelpers::notFound;
using TestHelpers::TcpClient;
using TestHelpers::UdpStreamer;

namespace {

constexpr std::size_t rate = 44100;
constexpr std::size_t datagramBytes = 1024;

// The audio of the pages that the lost datagrams touched.
std::vector<TestHelpers::FrameSpan> lostAudio(const Bytes& stream,
                                              const std::vector<std::size_t>& lostDatagrams)
{
    std::vector<TestHelpers::FrameSpan> spans;
    std::size_t byte = 0;
    int64_t before = 0;
    for (const Bytes& page : TestHelpers::splitPages(stream)) {
        const std::size_t first = byte / datagramBytes, last = (byte + page.size() - 1) / datagramBytes;
        byte += page.size();
        const int64_t granule = TestHelpers::granuleOf(page);
        for (const std::size_t d : lostDatagrams) {
            if (d >= first && d <= last && granule > before) {
                spans.push_back(TestHelpers::FrameSpan{std::size_t(before), std::size_t(granule)});
                break;
            }
        }
        before = std::max(before, granule);
    }
    return spans;
}

class EverySender : public TestHelpers::ReceiverFixture {
protected:
    // Plays the stream as the sender and network of `options` would and
    // returns the recording; the run then ends with its controller.
    std::vector<float> play(const Bytes& stream, const UdpStreamer::Options& options, std::size_t frames)
    {
        TestHelpers::SinkRecorder recorder;
        recorder.start();
        TcpClient controller;
        startRun(controller);
        UdpStreamer streamer(audioPort, TestHelpers::splitDatagrams(stream, datagramBytes), options);
        lost = streamer.lost();
        EXPECT_TRUE(streamer.waitDone(90s));
        // A second more, for the gaps and what the output still holds.
        EXPECT_TRUE(recorder.waitForSound(frames + rate, 20s));
        recorder.stop();
        controller.close();
        EXPECT_TRUE(veldrane->waitForStderr("AudioReceiver: played", 5s));
        heard(recorder.samples(), true);
        return recorder.samples();
    }

    std::string endOfRun() const
    {
        for (const std::string& line : veldrane->lines(TestHelpers::ChildProcess::Stream::Err)) {
            if (line.find("AudioReceiver: played") != std::string::npos)
                return line;
        }
        return "";
    }

    std::vector<std::size_t> lost;
};

TEST_F(EverySender, ALiveEncoderWithNoLeadSettlesInItsFirstSecondsAndPlaysOnWholeAtSpeedOne)
{
    const Bytes stream = TestHelpers::encodeOgg(TestHelpers::musicLike(40));
    const auto reference = TestHelpers::referenceDecode(stream);
    UdpStreamer::Options live;
    live.atEnd = true;
    const auto recording = play(stream, live, reference.size() / 2);

    const std::size_t settled = 2 * rate;
    const std::size_t at = TestHelpers::findExact(recording, reference, settled);
    ASSERT_NE(at, notFound);
    EXPECT_EQ(TestHelpers::differingFrames(recording, at - settled, reference, settled, reference.size() / 2),
              0u);
    EXPECT_NE(endOfRun().find("speed 1.000000 to 1.000000"), std::string::npos) << endOfRun();
}

TEST_F(EverySender, LostDatagramsLeaveSilenceOfTheirOwnLengthAndEverythingElseAtItsOwnTime)
{
    const Bytes stream = TestHelpers::encodeOgg(TestHelpers::musicLike(20));
    const auto reference = TestHelpers::referenceDecode(stream);
    UdpStreamer::Options lossy;
    lossy.loss = 0.01;
    lossy.seed = 7;
    const auto recording = play(stream, lossy, reference.size() / 2 - rate);
    ASSERT_GE(lost.size(), 2u);
    ASSERT_GT(lost.front(), 4u) << "the headers must arrive";

    const std::size_t at = TestHelpers::findExact(recording, reference, rate / 2);
    ASSERT_NE(at, notFound);
    TestHelpers::expectLostSpansSilentAndTheRestInPlace(recording, at - rate / 2, reference,
                                                        lostAudio(stream, lost));
}

TEST_F(EverySender, DuplicatedAndReorderedDatagramsLoseNothing)
{
    const Bytes stream = TestHelpers::encodeOgg(TestHelpers::musicLike(15));
    const auto reference = TestHelpers::referenceDecode(stream);
    UdpStreamer::Options network;
    network.duplicate = 0.05;
    network.swap = 0.05;
    const auto recording = play(stream, network, reference.size() / 2);
    TestHelpers::expectPlayedWhole(recording, reference);
}

TEST_F(EverySender, AnEncoderThatRestartsWithoutEndingItsStreamIsHeardAtOnce)
{
    const TestHelpers::OggParams first = TestHelpers::musicLike(8);
    TestHelpers::OggParams second = TestHelpers::musicLike(5, 2);
    second.amplitude = 0.3f;
    const Bytes one = TestHelpers::encodeOgg(first), two = TestHelpers::encodeOgg(second);
    // The first encoder dies 5 s in: its last pages, the end of its stream
    // among them, are never sent.
    std::size_t firstFrames = 0;
    Bytes stream = TestHelpers::cutOff(one, 5, rate, firstFrames);
    stream.insert(stream.end(), two.begin(), two.end());
    const auto referenceOne = TestHelpers::referenceDecode(one),
               referenceTwo = TestHelpers::referenceDecode(two);
    const auto recording = play(stream, UdpStreamer::Options{}, firstFrames + referenceTwo.size() / 2);

    const std::size_t atOne = TestHelpers::findExact(recording, referenceOne, rate);
    const std::size_t atTwo = TestHelpers::findExact(recording, referenceTwo, rate / 10);
    ASSERT_NE(atOne, notFound);
    ASSERT_NE(atTwo, notFound) << "the second stream was not heard";
    const long late = long(atTwo - rate / 10) - long(atOne - rate + firstFrames);
    EXPECT_LT(std::labs(late), long(rate)) << "frames";
    EXPECT_EQ(TestHelpers::differingFrames(recording, atTwo - rate / 10, referenceTwo, rate / 10,
                                           referenceTwo.size() / 2),
              0u);
}

} // namespace
