#include "support/marker_latency.h"

#include "support/bare_stream.h"
#include "test_helpers/sink_recorder.h"
#include "wrappers/audioio.h"

#include <RtAudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace Bench {

namespace {

constexpr unsigned int frames = 8192;
constexpr int buffers = 36;
constexpr int markerEvery = 4; // every 4th buffer carries a marker, the rest is silence

float markerValue(int k)
{
    return 0.01f * static_cast<float>(k + 1);
}

struct Figures {
    std::vector<double> ms;
};

// Latencies of the markers found in the recording, given when each was sent.
Figures latencies(const TestHelpers::SinkRecorder& recorder, const std::vector<Clock::time_point>& sent)
{
    Figures f;
    const std::vector<float> s = recorder.samples();
    std::vector<bool> seen(sent.size(), false);
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        if (s[i] == 0.0f)
            continue;
        for (size_t k = 0; k < sent.size(); ++k) {
            if (s[i] == markerValue(static_cast<int>(k)) && !seen[k]) {
                seen[k] = true;
                f.ms.push_back(
                    std::chrono::duration<double, std::milli>(recorder.frameTime(i / 2) - sent[k]).count());
            }
        }
    }
    if (f.ms.size() != sent.size())
        std::printf("  (only %zu of %zu markers found)\n", f.ms.size(), sent.size());
    return f;
}

void report(const char* what, const Figures& f)
{
    if (f.ms.empty()) {
        std::printf("%-58s no markers heard\n", what);
        return;
    }
    double sum = 0;
    for (double v : f.ms)
        sum += v;
    const double mean = sum / f.ms.size();
    const double period = 1000.0 * frames / 44100;
    std::printf("%-58s mean %6.1f ms (%.2f periods)  min %6.1f  max %6.1f  n=%zu\n", what, mean,
                mean / period, *std::min_element(f.ms.begin(), f.ms.end()),
                *std::max_element(f.ms.begin(), f.ms.end()), f.ms.size());
}

// lateFirstRefill: the second buffer comes 250 ms late, after which one
// buffer stays queued ahead of the device.
Figures measureAudioIO(std::chrono::milliseconds idleAfterInit, bool lateFirstRefill)
{
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    std::vector<Clock::time_point> sent;
    {
        Wrappers::AudioIO aio;
        aio.init(2, 0);
        std::this_thread::sleep_for(idleAfterInit);
        std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
        float* ch[2] = {left.data(), right.data()};
        for (int b = 0; b < buffers; ++b) {
            if (lateFirstRefill && b == 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            const bool marker = b % markerEvery == markerEvery / 2;
            left[0] = right[0] = marker ? markerValue(static_cast<int>(sent.size())) : 0.0f;
            aio.write(ch, 0, frames);
            if (marker)
                sent.push_back(Clock::now());
            aio.trigger();
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    recorder.stop();
    return latencies(recorder, sent);
}

struct Bare {
    std::atomic<int> calls{0};
    std::vector<Clock::time_point> sent = std::vector<Clock::time_point>(buffers);
    std::atomic<int> markers{0};
};

int cbBare(void* out, void*, unsigned int n, double, RtAudioStreamStatus, void* user)
{
    Bare& bare = *static_cast<Bare*>(user);
    float* o = static_cast<float*>(out);
    std::fill(o, o + 2 * n, 0.0f);
    const int call = bare.calls++;
    if (call < buffers && call % markerEvery == markerEvery / 2) {
        const int k = bare.markers.load();
        o[0] = o[1] = markerValue(k);
        bare.sent[k] = Clock::now();
        bare.markers = k + 1;
    }
    return 0;
}

void cbBareError(RtAudioError::Type, const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

Figures measureBare()
{
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    Bare bare;
    {
        RtAudio dac;
        unsigned int size = frames;
        startBareStream(dac, size, &cbBare, &bare, &cbBareError);
        while (bare.calls < buffers)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        dac.stopStream();
        dac.closeStream();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    recorder.stop();
    std::vector<Clock::time_point> sent(bare.sent.begin(), bare.sent.begin() + bare.markers);
    return latencies(recorder, sent);
}

} // namespace

void printHandOverLatency()
{
    std::printf("buffer period %.1f ms (%u frames at 44100 Hz)\n", 1000.0 * frames / 44100, frames);
    report("baseline: bare RtAudio, callback -> sound", measureBare());
    report("AudioIO, trigger() -> sound, first trigger at once",
           measureAudioIO(std::chrono::milliseconds(0), false));
    report("AudioIO, trigger() -> sound, output idle 500 ms first",
           measureAudioIO(std::chrono::milliseconds(500), false));
    report("AudioIO, trigger() -> sound, after one late refill",
           measureAudioIO(std::chrono::milliseconds(0), true));
}

} // namespace Bench
