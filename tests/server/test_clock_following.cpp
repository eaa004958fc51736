// locks: ports sink
// A sender whose clock runs slow or fast against the sound device's: the
// receiver follows it, so the audio waiting ahead of the device stays
// where it settled and the device never runs dry.
#include "test_helpers/markers.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/receiver_fixture.h"
#include "test_helpers/udp_streamer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace std::chrono_literals;
using TestHelpers::TcpClient;

namespace {

constexpr double streamSeconds = 32;
constexpr double markerSeconds = 0.5;
constexpr float amplitude = 0.25f;
// By then playback has settled; the first seconds may hold silence.
constexpr double settledAfterSeconds = 6;
constexpr double offBy = 0.004;
constexpr double toleranceSeconds = 0.100;
static_assert((streamSeconds - settledAfterSeconds) * offBy > toleranceSeconds,
              "without following, the waiting audio would leave the tolerance");

class ClockFollowing : public TestHelpers::ReceiverFixture {
protected:
    // Plays the marked stream from a sender whose clock runs at `speed`
    // times the device's, and checks what was heard.
    void expectFollowed(double speed)
    {
        TestHelpers::OggParams params;
        params.seconds = streamSeconds;
        params.amplitude = amplitude;
        params.markerSeconds = markerSeconds;
        // Pages as long as music's: a pure tone's last a second and more,
        // and the sender's rate is told from the pages of each couple of
        // seconds, so with those the rate was found only near the end.
        params.noise = 0.01f;
        const auto stream = TestHelpers::encodeOgg(params);

        TestHelpers::SinkRecorder recorder;
        recorder.start();
        TcpClient controller;
        startRun(controller);
        TestHelpers::UdpStreamer::Options pacing;
        pacing.rate = std::lround(44100 * speed);
        TestHelpers::UdpStreamer streamer(audioPort, TestHelpers::splitDatagrams(stream, 1024), pacing);
        ASSERT_TRUE(streamer.waitDone(60s));
        const auto frames = static_cast<size_t>(streamSeconds * 44100 * (1 + 2 * offBy));
        ASSERT_TRUE(recorder.waitForSound(frames, 20s));
        recorder.stop();
        expectMarks(recorder.samples(), static_cast<double>(pacing.rate) / 44100);
        EXPECT_EQ(veldrane->countLines("UNDERRUN"), 0);
    }

    // Every mark heard once, each after the one before by its own length
    // give or take the range followed, with no silence in between; and the
    // delay from when the sender meant a mark to be heard to when it was
    // heard stays where it settled.
    static void expectMarks(const std::vector<float>& recording, double speed)
    {
        const size_t period = static_cast<size_t>(markerSeconds * 44100);
        const auto onsets = TestHelpers::markerOnsets(recording, amplitude, period / 2);
        ASSERT_EQ(onsets.size(), static_cast<size_t>(streamSeconds / markerSeconds));
        const auto settled = static_cast<size_t>(settledAfterSeconds / markerSeconds);
        EXPECT_LT(TestHelpers::longestSilence(recording, onsets[settled], onsets.back()), 2u);
        const double delay = lateness(onsets, settled, speed);
        for (size_t k = settled; k < onsets.size(); ++k) {
            const double step = static_cast<double>(onsets[k] - onsets[k - 1]);
            EXPECT_NEAR(step, period, period * 0.006 + 32) << "mark " << k;
            EXPECT_NEAR(lateness(onsets, k, speed), delay, toleranceSeconds) << "mark " << k;
        }
    }

    // Seconds from when the sender meant mark k to be heard (its own clock
    // runs at `speed`) to when it was, less a constant.
    static double lateness(const std::vector<size_t>& onsets, size_t k, double speed)
    {
        return static_cast<double>(onsets[k]) / 44100 - static_cast<double>(k) * markerSeconds / speed;
    }
};

} // namespace

TEST_F(ClockFollowing, ASlowSenderNeverRunsTheDeviceDry)
{
    expectFollowed(1 - offBy);
}

TEST_F(ClockFollowing, AFastSendersAudioDoesNotPileUp)
{
    expectFollowed(1 + offBy);
}
