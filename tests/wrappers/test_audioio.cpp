// locks: sink
#include "wrappers/audioio.h"

#include "test_helpers/played_whole.h"
#include "test_helpers/sink_recorder.h"
#include "utils/errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using Wrappers::AudioIO;
using namespace std::chrono_literals;

namespace {

// Two channel arrays as the decoder hands them over.
struct Channels {
    explicit Channels(int frames) : left(frames), right(frames), ptr{left.data(), right.data()} {}
    std::vector<float> left, right;
    float* ptr[2];
};

// Sample value of frame j of buffer k: a running frame number scaled by a
// power of two, so it is exact as a float, never zero, and tells where a
// recorded frame came from.
constexpr float step = 1.0f / (1 << 22);

// A refill well past the 185.76 ms threshold. The millisecond clock may
// read a sleep one short, hence the extra 2 ms.
constexpr auto slowRefill = 252ms;

void fillNumbered(Channels& c, int k, int frames)
{
    for (int j = 0; j < frames; ++j) {
        c.left[j] = static_cast<float>(k * frames + j + 1) * step;
        c.right[j] = -0.5f * c.left[j];
    }
}

std::string whereFrom(float value, int frames)
{
    const long n = std::lround(value / step) - 1;
    return "buffer " + std::to_string(n / frames) + " frame " + std::to_string(n % frames);
}

struct PlayResult {
    std::vector<float> recording;
    std::vector<float> reference;
    std::vector<std::chrono::steady_clock::time_point> returns;
};

// Plays `buffers` numbered buffers as fast as trigger() lets it and records
// the sink until the last one has been heard. The receiver opens its output
// well before the stream arrives, so the device has taken buffers before
// the first trigger: idleAfterInit plays that.
// lateBuffer, when not -1, is filled only after a slowRefill pause.
PlayResult playNumbered(int framesPerBuffer, int buffers, std::chrono::milliseconds idleAfterInit,
                        int lateBuffer = -1)
{
    PlayResult r;
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    {
        AudioIO aio(framesPerBuffer);
        aio.init(2, 0);
        std::this_thread::sleep_for(idleAfterInit);
        const int frames = aio.bufSize();
        Channels c(frames);
        for (int k = 0; k < buffers; ++k) {
            if (k == lateBuffer)
                std::this_thread::sleep_for(slowRefill);
            fillNumbered(c, k, frames);
            aio.write(c.ptr, 0, frames);
            aio.trigger();
            r.returns.push_back(std::chrono::steady_clock::now());
            for (int j = 0; j < frames; ++j) {
                r.reference.push_back(c.left[j]);
                r.reference.push_back(c.right[j]);
            }
        }
    }
    const bool heard = recorder.waitForSound(r.reference.size() / 2, 5s);
    recorder.stop();
    EXPECT_TRUE(heard) << "only " << recorder.soundFrames() << " frames of sound recorded";
    r.recording = recorder.samples();
    return r;
}

// Cuts the recorded sound, silence left out, into whole buffers and names
// each by its number; the silent frames between the first and the last
// sound are counted in `gap`. Fails on any frame that does not continue
// its buffer (a torn buffer).
testing::AssertionResult playedBuffers(const std::vector<float>& rec, int frames, std::vector<int>& played,
                                       size_t* gap = nullptr)
{
    played.clear();
    const size_t onset = TestHelpers::firstNonZeroFrame(rec);
    if (onset == static_cast<size_t>(-1))
        return testing::AssertionFailure() << "nothing was heard";
    const std::vector<float> heard = TestHelpers::withoutSilence(
        std::vector<float>(rec.begin() + static_cast<long>(2 * onset), rec.end()));
    if (gap) {
        size_t last = rec.size() / 2;
        while (last > onset && rec[2 * (last - 1)] == 0 && rec[2 * (last - 1) + 1] == 0)
            --last;
        *gap = last - onset - heard.size() / 2;
    }
    const size_t total = heard.size() / 2;
    for (size_t start = 0; start < total; start += frames) {
        if (start + frames > total)
            return testing::AssertionFailure() << "the sound ends inside a buffer";
        const long k = (std::lround(heard[2 * start] / step) - 1) / frames;
        for (int j = 0; j < frames; ++j) {
            const float left = static_cast<float>(k * frames + j + 1) * step;
            const float got = heard[2 * (start + j)];
            if (got != left || heard[2 * (start + j) + 1] != -0.5f * left) {
                return testing::AssertionFailure()
                       << "played buffer " << played.size() << " (buffer " << k << ") is torn at frame " << j
                       << ": then " << whereFrom(got, frames);
            }
        }
        played.push_back(static_cast<int>(k));
    }
    return testing::AssertionSuccess();
}

std::vector<int> upTo(int n)
{
    std::vector<int> v(n);
    for (int k = 0; k < n; ++k)
        v[k] = k;
    return v;
}

// Runs fill() between two triggers and returns what the second trigger
// printed on standard output.
template <typename Fill> std::string printedByTrigger(AudioIO& aio, Channels& c, Fill fill)
{
    aio.write(c.ptr, 0, aio.bufSize());
    aio.trigger();
    fill();
    aio.write(c.ptr, 0, aio.bufSize());
    testing::internal::CaptureStdout();
    aio.trigger();
    return testing::internal::GetCapturedStdout();
}

int underrunDiff(const std::string& printed)
{
    int diff = -1;
    char tail = 0;
    if (std::sscanf(printed.c_str(), "UNDERRUN - diff %d%c", &diff, &tail) != 2 || tail != '\n')
        return -1;
    return diff;
}

} // namespace

TEST(AudioIO, HandsOverEveryBufferOnceInOrderAtTheDeviceRate)
{
    const int frames = 8192;
    const int warmUp = 5, measured = 50;
    const PlayResult r = playNumbered(frames, warmUp + measured, 500ms);
    std::vector<int> played;
    size_t gap = 0;
    ASSERT_TRUE(playedBuffers(r.recording, frames, played, &gap));
    EXPECT_EQ(played, upTo(warmUp + measured));
    EXPECT_EQ(gap, 0u);
    const TestHelpers::Comparison c = TestHelpers::compareWithReference(r.recording, r.reference);
    EXPECT_TRUE(c.bitExact()) << c.describe();

    // Past the start-up burst, trigger() returns once per device period.
    const double meanMs =
        std::chrono::duration<double, std::milli>(r.returns.back() - r.returns[warmUp - 1]).count()
        / measured;
    const double periodMs = 1000.0 * frames / 44100;
    // The margin holds on a loaded machine; a trigger that did not wait, or
    // waited two periods, is far outside it.
    EXPECT_NEAR(meanMs, periodMs, 0.25 * periodMs);
}

TEST(AudioIO, SmallBuffersArriveWholeDespiteBurstyCallbacks)
{
    const PlayResult r = playNumbered(2048, 100, 0ms);
    std::vector<int> played;
    ASSERT_TRUE(playedBuffers(r.recording, 2048, played));
    EXPECT_EQ(played, upTo(100));
}

TEST(AudioIO, LateRefillIsAGapOfSilenceAndNothingRepeats)
{
    const int frames = 8192, late = 8, buffers = 20;
    testing::internal::CaptureStdout();
    const PlayResult r = playNumbered(frames, buffers, 0ms, late);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_GE(underrunDiff(printed), 250) << printed;

    // The device asked for buffer 8 before it came and played silence;
    // buffer 8 follows whole, and no buffer is skipped, repeated or torn.
    std::vector<int> played;
    size_t gap = 0;
    ASSERT_TRUE(playedBuffers(r.recording, frames, played, &gap));
    EXPECT_EQ(played, upTo(buffers));
    EXPECT_GT(gap, 0u);
}

TEST(AudioIO, ReportsOnlyRefillsLongerThanAFullBuffer)
{
    AudioIO aio;
    EXPECT_EQ(aio.bufSize(), 8192);
    aio.init(2, 0);
    EXPECT_EQ(aio.bufSize(), 8192);
    Channels c(aio.bufSize());

    // The first trigger after init has nothing to measure from.
    std::this_thread::sleep_for(300ms);
    aio.write(c.ptr, 0, aio.bufSize());
    testing::internal::CaptureStdout();
    aio.trigger();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    EXPECT_EQ(printedByTrigger(aio, c, [] {}), "");
    EXPECT_EQ(printedByTrigger(aio, c, [] { std::this_thread::sleep_for(150ms); }), "");

    const std::string slow = printedByTrigger(aio, c, [] { std::this_thread::sleep_for(slowRefill); });
    const int diff = underrunDiff(slow);
    EXPECT_GE(diff, 250) << slow;
    // Measured from the last trigger, not from the one before (150 ms more).
    EXPECT_LT(diff, 400) << slow;

    // Measuring restarts after each wait: the next fast refill is quiet.
    EXPECT_EQ(printedByTrigger(aio, c, [] {}), "");
}

TEST(AudioIO, ThresholdStaysAFull8192FrameBufferWhateverSizeIsGranted)
{
    AudioIO aio(2048);
    EXPECT_EQ(aio.bufSize(), 2048);
    aio.init(2, 0);
    EXPECT_EQ(aio.bufSize(), 2048);
    Channels c(aio.bufSize());
    aio.write(c.ptr, 0, aio.bufSize());
    aio.trigger();

    // 150 ms is three 2048-frame periods but less than 185.76 ms.
    EXPECT_EQ(printedByTrigger(aio, c, [] { std::this_thread::sleep_for(150ms); }), "");
    const std::string slow = printedByTrigger(aio, c, [] { std::this_thread::sleep_for(slowRefill); });
    EXPECT_GE(underrunDiff(slow), 250) << slow;
}

TEST(AudioIO, WriteAndSilenceChangeOnlyTheirFrames)
{
    AudioIO aio;
    aio.init(2, 0);
    const int frames = aio.bufSize();
    Channels all(frames), part(50), out(frames);
    for (int round = 0; round < 2; ++round) {
        fillNumbered(all, round, frames);
        aio.write(all.ptr, 0, frames);
        for (int j = 0; j < 50; ++j) {
            part.left[j] = 0.25f + j;
            part.right[j] = -0.25f - j;
        }
        aio.write(part.ptr, 100, 50);
        aio.silence(1000, 10);
        aio.read(out.ptr);
        for (int j = 0; j < frames; ++j) {
            float left = all.left[j], right = all.right[j];
            if (j >= 100 && j < 150) {
                left = part.left[j - 100];
                right = part.right[j - 100];
            } else if (j >= 1000 && j < 1010) {
                left = right = 0.0f;
            }
            ASSERT_EQ(out.left[j], left) << "round " << round << " frame " << j;
            ASSERT_EQ(out.right[j], right) << "round " << round << " frame " << j;
        }
        aio.trigger(); // the second round writes into the other buffer
    }
}

TEST(AudioIO, MisuseThrowsAndDestructionNeverDoes)
{
    EXPECT_NO_THROW({ AudioIO never; });
    {
        AudioIO aio;
        Channels c(aio.bufSize());
        aio.write(c.ptr, 0, aio.bufSize());
        testing::internal::CaptureStderr();
        EXPECT_THROW(aio.trigger(), Utils::AudioTriggerError);
        EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    }
    // The destructor runs while the init error propagates.
    EXPECT_THROW(
        {
            AudioIO aio;
            aio.init(1, 0);
        },
        Utils::AudioInitError);
    EXPECT_THROW(
        {
            AudioIO aio;
            aio.init(2, 0);
            aio.init(2, 0);
        },
        Utils::AudioInitError);
    EXPECT_THROW(
        {
            AudioIO aio;
            aio.init(2, 0);
            throw std::runtime_error("elsewhere");
        },
        std::runtime_error);
}

TEST(AudioIODeathTest, InitWithoutSoundServerThrowsAndSaysWhy)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("PULSE_SERVER", "unix:/nonexistent/veldrane-no-server", 1);
            try {
                AudioIO aio;
                aio.init(2, 0);
            } catch (Utils::AudioInitError&) {
                std::fprintf(stderr, "caught AudioInitError\n");
                std::exit(0);
            }
            std::exit(1);
        },
        testing::ExitedWithCode(0), "AudioIO: no audio device found(.|\n)*caught AudioInitError");
}
