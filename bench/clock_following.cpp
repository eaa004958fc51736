// How veldrane follows a sender whose clock runs slow or fast against the
// sound device's. For each sender (same clock, then 0.2 % and 0.4 % slow
// and fast) one run plays a marked stream of the given length; the places
// of the marks in the recording tell, beside the same-clock run of this
// same program:
//   - how far the delay from when the sender meant a mark to be heard to
//     when it was heard (the waiting audio, less a constant) moved from
//     where playback settled (6 s in) to the end, and its largest move;
//   - the speed the receiver settled on (marks' spacing over the last 20 s);
//   - replayed or skipped buffers (a mark spacing off by more than 1 %),
//     silent gaps after the first 6 s, and UNDERRUN lines;
//   - the receiver's CPU per second of audio.
// Usage: bench_clock_following [seconds=120]
// Needs the test sound server (scripts/pulse.sh start DIR and its env) and
// uses ports 8888/6666.
#include "support/recorded_run.h"
#include "test_helpers/child_process.h"
#include "test_helpers/markers.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/process_cpu.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/udp_streamer.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr double markerSeconds = 0.5;
constexpr float amplitude = 0.25f;
constexpr double settledSeconds = 6;
constexpr double markerFrames = markerSeconds * 44100;

struct Figures {
    bool ok = false;
    double movedMs = 0;   // delay at the end less the delay once settled
    double largestMs = 0; // the largest such move
    double speed = 0;     // settled on, over the last 20 s
    int offSteps = 0;     // mark spacings off by more than 1 %
    size_t silence = 0;   // longest silent run after settling, frames
    int underruns = 0;
    double cpuMsPerSecond = 0;
};

double lateness(const std::vector<size_t>& onsets, size_t k, double senderSpeed)
{
    return static_cast<double>(onsets[k]) / 44100 - static_cast<double>(k) * markerSeconds / senderSpeed;
}

void analyse(const std::vector<float>& recording, double senderSpeed, size_t marks, Figures& f)
{
    const auto onsets =
        TestHelpers::markerOnsets(recording, amplitude, static_cast<size_t>(markerFrames / 2));
    if (onsets.size() != marks) {
        std::printf("  found %zu marks of %zu\n", onsets.size(), marks);
        return;
    }
    const auto settled = static_cast<size_t>(settledSeconds / markerSeconds);
    const double base = lateness(onsets, settled, senderSpeed);
    for (size_t k = settled; k < onsets.size(); ++k) {
        const double moved = lateness(onsets, k, senderSpeed) - base;
        if (std::fabs(moved) > std::fabs(f.largestMs / 1000))
            f.largestMs = moved * 1000;
        if (std::fabs(static_cast<double>(onsets[k] - onsets[k - 1]) - markerFrames) > markerFrames * 0.01)
            ++f.offSteps;
    }
    f.movedMs = (lateness(onsets, onsets.size() - 1, senderSpeed) - base) * 1000;
    const size_t last = onsets.size() - 1;
    const size_t from = last - static_cast<size_t>(20 / markerSeconds);
    f.speed =
        markerFrames * static_cast<double>(last - from) / static_cast<double>(onsets[last] - onsets[from]);
    f.silence = TestHelpers::longestSilence(recording, onsets[settled], onsets.back());
    f.ok = true;
}

Figures play(const TestHelpers::Bytes& stream, double seconds, double senderSpeed)
{
    Figures f;
    TestHelpers::ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    TestHelpers::SinkRecorder recorder;
    TestHelpers::TcpClient controller;
    if (!Bench::startRecordedRun(veldrane, recorder, controller))
        return f;
    const double cpuBefore = TestHelpers::processCpuSeconds(veldrane.pid());
    TestHelpers::UdpStreamer::Options pacing;
    pacing.rate = std::lround(44100 * senderSpeed);
    TestHelpers::UdpStreamer streamer(6666, TestHelpers::splitDatagrams(stream, 1024), pacing);
    streamer.waitDone(std::chrono::seconds(static_cast<long>(seconds * 1.1) + 10));
    recorder.waitForSound(static_cast<size_t>(seconds * 44100 * 1.01), 20s);
    f.cpuMsPerSecond = (TestHelpers::processCpuSeconds(veldrane.pid()) - cpuBefore) * 1000 / seconds;
    recorder.stop();
    f.underruns = veldrane.countLines("UNDERRUN");
    analyse(recorder.samples(), static_cast<double>(pacing.rate) / 44100,
            static_cast<size_t>(seconds / markerSeconds), f);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 120;
    TestHelpers::OggParams params;
    params.seconds = seconds;
    params.amplitude = amplitude;
    params.markerSeconds = markerSeconds;
    const auto stream = TestHelpers::encodeOgg(params);

    std::printf("%.0f s streams; the delay is from when the sender meant a mark to be heard to when it was\n",
                seconds);
    std::printf("%-10s %10s %10s %11s %12s %9s %9s %9s %12s\n", "sender", "moved ms", "largest", "unfollowed",
                "speed", "off bufs", "silence", "underrun", "cpu ms/s");
    double baselineCpu = 0;
    for (const double off : {0.0, -0.002, 0.002, -0.004, 0.004}) {
        const Figures f = play(stream, seconds, 1 + off);
        if (!f.ok) {
            std::printf("%+9.1f%%  run failed\n", off * 100);
            continue;
        }
        if (off == 0.0)
            baselineCpu = f.cpuMsPerSecond;
        // Without following, the delay would move with the sender's clock.
        const double unfollowedMs = off * (seconds - settledSeconds) * 1000;
        std::printf("%+9.1f%% %10.1f %10.1f %11.1f %12.6f %9d %9zu %9d %7.2f (%.2fx same clock)\n", off * 100,
                    f.movedMs, f.largestMs, unfollowedMs, f.speed, f.offSteps, f.silence, f.underruns,
                    f.cpuMsPerSecond, baselineCpu > 0 ? f.cpuMsPerSecond / baselineCpu : 0.0);
    }
    return 0;
}
