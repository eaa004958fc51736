// The silence a sound server plays on its own, found from when the device
// asks, in simulated time.
#include "audio/format.h"
#include "audio/server_silence.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

namespace {

using Clock = Audio::ServerSilence::Clock;

struct Found {
    double seconds = 0;
    long gaps = 0;
};

// A device asking for a buffer every period of its own clock (`rate` of
// this machine's), woken up to 30 ms late, whose server plays `silence`
// seconds on its own from `at` on (most at once, the rest while it refills
// its queue), or keeps every request of the 2.5 s after `at` 100 ms late
// when `busy`.
Found run(double rate, double at, double silence, bool busy, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> late(0, 0.030);
    Audio::ServerSilence finder;
    Found out;
    const Clock::time_point start{};
    double behind = 0;
    for (long k = 0; k < 600; ++k) {
        const double due = static_cast<double>(k) * Audio::bufferSeconds / rate;
        behind = due < at ? 0 : due < at + 1.5 ? 0.8 * silence : silence;
        const double held = busy && due >= at && due < at + 2.5 ? 0.1 : late(random);
        const auto now =
            start
            + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due + behind + held));
        const auto found = finder.asked(now, k * Audio::framesPerBuffer);
        out.seconds += static_cast<double>(found.frames) / Audio::sampleRate;
        out.gaps += found.newGap ? 1 : 0;
    }
    return out;
}

} // namespace

TEST(ServerSilence, ASilenceIsFoundOnceAtItsLengthAndNeitherABusySecondNorAnotherClockIsOne)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const Found silence = run(1.0, 40, 0.2, false, seed);
        EXPECT_EQ(silence.gaps, 1) << seed;
        EXPECT_NEAR(silence.seconds, 0.2, 0.025) << seed;
        for (const double rate : {0.995, 1.005}) {
            const Found drift = run(rate, 40, 0, true, seed);
            EXPECT_EQ(drift.gaps, 0) << seed << " " << rate;
        }
    }
}
