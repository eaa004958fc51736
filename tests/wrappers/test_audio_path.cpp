// locks: sink
// The audio path end to end: an Ogg Vorbis stream sent as UDP datagrams on
// loopback in real time, received by a UDP Net, decoded by AudioDec into an
// AudioIO playing to the null sink, and found again in the sink's monitor.
#include "test_helpers/loopback.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/udp_streamer.h"
#include "utils/errors.h"
#include "wrappers/audiodec.h"
#include "wrappers/audioio.h"
#include "wrappers/net.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace TestHelpers;
using namespace std::chrono_literals;

namespace {

void playOverUdp(const Bytes& stream, const std::vector<Bytes>& grams)
{
    const int port = freePort(true);
    ASSERT_GT(port, 0);

    SinkRecorder recorder;
    recorder.start();
    int buffers = 0;
    int bufSize = 0;
    int earlyReadErrors = 0;
    std::string console;
    {
        Wrappers::Net net;
        net.setupListen(port, Wrappers::ConnectionType::UDP);
        Wrappers::AudioIO aio;
        aio.init(2, 0);
        bufSize = aio.bufSize();
        Wrappers::AudioDec dec;

        UdpStreamer::Options pacing;
        pacing.lead = 1000ms;
        UdpStreamer sender(port, grams, pacing);
        testing::internal::CaptureStdout();
        dec.init(&net, &aio);
        // Ends at the first read error after the sender finished: the
        // stream's end, noticed by the read timeout. The bound guards
        // against a decoder that never stops.
        for (int guard = 0; guard < 2000; ++guard) {
            try {
                dec.decode();
                ++buffers;
            } catch (const Utils::AdReadError&) {
                if (sender.done())
                    break;
                ++earlyReadErrors;
            }
        }
        console = testing::internal::GetCapturedStdout();
        EXPECT_EQ(sender.failures(), 0);
    }
    std::vector<float> ref = referenceDecode(stream);
    recorder.waitForSound(ref.size() / 2 + size_t(bufSize), 5s);
    recorder.stop();

    EXPECT_EQ(earlyReadErrors, 0);
    EXPECT_EQ(console.find("OV_HOLE"), std::string::npos) << console;

    // Every frame of the stream was played, in order, without a gap, and
    // silence followed.
    ASSERT_GT(buffers, 0);
    CompareOptions options;
    options.tolerance = 1e-6f;
    expectPlayedWhole(recorder.samples(), ref, options);
}

} // namespace

TEST(AudioPath, StreamIn1024ByteDatagramsPlaysWithoutGap)
{
    OggParams params;
    params.seconds = 5.0;
    Bytes stream = encodeOgg(params);
    playOverUdp(stream, splitDatagrams(stream, 1024));
}

TEST(AudioPath, StreamInWholePagesPlaysWithoutGap)
{
    // Pages of about 4 KB, longer than the decoder's 2048-byte reads.
    OggParams params;
    params.seconds = 5.0;
    params.serial = 77;
    Bytes stream = encodeOgg(params);
    std::vector<Bytes> pages = splitPages(stream);
    size_t largest = 0;
    for (const Bytes& p : pages)
        largest = std::max(largest, p.size());
    ASSERT_GT(largest, 3500u);
    playOverUdp(stream, pages);
}
