// What the receiver costs in CPU, wake-ups and latency, each figure beside
// a baseline measured in this same run:
//   (a) idle, no controller: CPU per second and wake-ups per second of each
//       thread, beside a bare loop that sleeps 50 ms, over three windows;
//   (b) run start: CPU from "startTransmission" to the first buffer handed
//       to the device, beside a bare RtAudio stream's creation, opening and
//       first callback in this process. The run plays a stream shorter than
//       one buffer, sent at once, so its first hand-over is followed by
//       "AudioReceiver: read error": that line ends the measurement;
//   (c) playing: CPU per second of audio over the middle of a stream played
//       in real time, and wake-ups per second of each thread, beside a
//       GStreamer pipeline (udpsrc ! oggdemux ! vorbisdec ! audioconvert !
//       audioresample ! pulsesink) fed the same datagrams at the same pace
//       on port 6667 and playing on a null sink of its own, both at once
//       and measured over the same window; over the whole stream, each
//       side's CPU per second of audio, its first sound after the first
//       datagram and the seconds of sound its sink recorded; the UNDERRUN
//       lines meanwhile;
//       and the output side's wake-ups beside a bare RtAudio stream's;
//   (d) hand-over to sound: from AudioIO::trigger() to the buffer's sound on
//       the null sink's monitor, beside a bare RtAudio callback stream.
// A wake-up is a switch of the thread onto a CPU: its voluntary and
// involuntary context switches. The machine is shared, so CPU figures move
// by a quarter from run to run; compare a figure with its baseline.
//
// Usage: bench_receiver_cost [seconds per round=30] [rounds=3] [run starts=10]
//                            [path to veldrane]
// Needs the test sound server (scripts/bench.sh starts one), GStreamer's
// gst-launch-1.0 with its base, good and pulseaudio plugins, and ports
// 8888/6666: run it alone in a network namespace of its own,
//   unshare -n sh -c 'ip link set lo up; scripts/bench.sh receiver_cost'
#include "support/bare_stream.h"
#include "support/gstreamer_peer.h"
#include "support/marker_latency.h"
#include "support/sleep_loop.h"
#include "support/thread_stats.h"
#include "test_helpers/child_process.h"
#include "test_helpers/loopback.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/udp_streamer.h"
#include "test_helpers/wait.h"

#include <RtAudio.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TestHelpers::Bytes;
using TestHelpers::ChildProcess;

namespace {

constexpr int audioPort = 6666;
constexpr int controlPort = 8888;
constexpr int gstPort = Bench::GStreamerPeer::port;
// Stream time played before a round's measurement starts, and after it.
constexpr auto settleTime = 6s;
constexpr auto tailTime = 2s;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// What each thread of a veldrane process is, from what the benchmark knows
// of it: the main thread has the process's id, the command server is the
// other thread of an idle receiver, libpulse names its thread, and the
// rest start in this order during a run (ProcessStats lists threads in the
// order they started).
class ThreadRoles {
public:
    ThreadRoles(pid_t pid, const Bench::ProcessStats& idle) : _pid(pid)
    {
        for (const Bench::ThreadStats& t : idle.threads())
            _idle.insert(t.tid);
    }

    std::string operator()(const Bench::ThreadStats& t)
    {
        if (t.tid == _pid)
            return "main";
        if (_idle.count(t.tid))
            return "command server";
        if (t.name == "threaded-ml")
            return "sound-server client (libpulse)";
        static const char* const runThreads[] = {"audio receiver", "audio device (RtAudio)"};
        auto known = _runThreads.find(t.tid);
        if (known == _runThreads.end()) {
            const size_t n = _runThreads.size();
            known = _runThreads.emplace(t.tid, n < 2 ? runThreads[n] : "other").first;
        }
        return known->second;
    }

private:
    pid_t _pid;
    std::set<long> _idle;
    std::map<long, std::string> _runThreads;
};

// Wake-ups per second and CPU of each thread between two samples; a thread
// labelled with nothing is left out.
template <typename Label>
void printThreads(const Bench::ProcessStats& before, const Bench::ProcessStats& after, double secs,
                  Label label)
{
    for (const Bench::ThreadStats& now : after.threads()) {
        const std::string name = label(now);
        if (name.empty())
            continue;
        const Bench::ThreadStats d = before.since(now);
        std::printf("      %-32s %6.1f wake-ups/s  %6.2f ms CPU/s\n", name.c_str(),
                    static_cast<double>(d.voluntary + d.involuntary) / secs,
                    static_cast<double>(d.cpuNs) / 1e6 / secs);
    }
}

double wakeUps(const Bench::ProcessStats& before, const Bench::ProcessStats& after)
{
    double n = 0;
    for (const Bench::ThreadStats& now : after.threads()) {
        const Bench::ThreadStats d = before.since(now);
        n += static_cast<double>(d.voluntary + d.involuntary);
    }
    return n;
}

// (a) The receiver with no controller, beside a bare sleep loop, over a few
// windows: a single one often catches the loop or the receiver in a busy
// moment of the machine.
Bench::ProcessStats measureIdle(ChildProcess& veldrane)
{
    constexpr double idleSeconds = 10;
    constexpr int windows = 3;
    const Bench::SleepLoop floor;
    std::this_thread::sleep_for(1s);
    std::printf("(a) idle, no controller, %d windows of %.0f s\n", windows, idleSeconds);
    Bench::ProcessStats before = Bench::ProcessStats::of(veldrane.pid());
    Bench::ProcessStats after;
    std::vector<double> ratios;
    for (int i = 0; i < windows; ++i) {
        const Bench::ProcessStats floorBefore = Bench::ProcessStats::of(floor.pid());
        std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
        after = Bench::ProcessStats::of(veldrane.pid());
        const Bench::ProcessStats floorAfter = Bench::ProcessStats::of(floor.pid());
        const double cpu = after.cpuMsSince(before) / idleSeconds;
        const double floorCpu = floorAfter.cpuMsSince(floorBefore) / idleSeconds;
        ratios.push_back(floorCpu > 0 ? cpu / floorCpu : 0.0);
        std::printf(
            "    CPU %.2f ms per s | bare 50 ms sleep loop: %.2f ms per s (%.2f times); wake-ups %.1f per"
            " s | loop %.1f per s\n",
            cpu, floorCpu, ratios.back(), wakeUps(before, after) / idleSeconds,
            wakeUps(floorBefore, floorAfter) / idleSeconds);
        if (i + 1 < windows)
            before = after;
    }
    std::printf("    median of the windows: %.2f times the loop's CPU; the last window by thread:\n",
                median(ratios));
    ThreadRoles roles(veldrane.pid(), after);
    printThreads(before, after, idleSeconds, roles);
    return after;
}

// A controller of the receiver under test.
class Controller {
public:
    explicit Controller(ChildProcess& veldrane) : _veldrane(veldrane) {}

    // Connects and waits for the greeting.
    bool connect()
    {
        const int greeted = _veldrane.countLines("ServerCmd: koblet til");
        return _client.connect(controlPort, 5s)
               && _veldrane.waitForCount("ServerCmd: koblet til", greeted + 1, 5s);
    }

    // Asks for a run; false unless "udpReady" came.
    bool start()
    {
        return _client.send("startTransmission ") && !_client.readUntil("udpReady 6666 ", 5s).empty();
    }

    // Leaves, and waits until the run has let go of the UDP port.
    bool stop()
    {
        const int stopped = _veldrane.countLines("AudioReceiver::onConnectionBroken()");
        _client.close();
        return _veldrane.waitForCount("AudioReceiver::onConnectionBroken()", stopped + 1, 5s)
               && TestHelpers::waitFor([] { return TestHelpers::portFree(audioPort); }, 5s);
    }

private:
    ChildProcess& _veldrane;
    TestHelpers::TcpClient _client;
};

// Baseline of (b): what a new RtAudio object costs in this process, from
// its creation to the first callback of a started stream on the default
// device.
double bareLibraryStartMs()
{
    std::atomic<bool> called{false};
    const auto cb = [](void* out, void*, unsigned int n, double, RtAudioStreamStatus, void* user) {
        std::fill_n(static_cast<float*>(out), 2 * n, 0.0f);
        *static_cast<std::atomic<bool>*>(user) = true;
        return 0;
    };
    const double cpu0 = processCpuMs();
    RtAudio dac;
    unsigned int frames = 8192;
    Bench::startBareStream(dac, frames, cb, &called);
    TestHelpers::waitFor([&called] { return called.load(); }, 5s);
    const double cpu = processCpuMs() - cpu0;
    dac.abortStream();
    dac.closeStream();
    return cpu;
}

// One run start as (b) measures it.
struct RunStart {
    Bench::ProcessStats before, after; // at "startTransmission", after the first hand-over
    double readyMs = 0;                // "startTransmission" to "udpReady"
    double handOverMs = 0;             // "startTransmission" to the first hand-over
    double cpuMs() const { return after.cpuMsSince(before); }
};

// (b) One run start, from "startTransmission" until the line that follows
// the first hand-over; false when the run failed.
bool runStart(ChildProcess& veldrane, const std::vector<Bytes>& shortStream, RunStart& r)
{
    const int errors = veldrane.countLines("AudioReceiver: read error");
    Controller controller(veldrane);
    if (!controller.connect())
        return false;
    r.before = Bench::ProcessStats::of(veldrane.pid());
    const Clock::time_point t0 = Clock::now();
    if (!controller.start())
        return false;
    r.readyMs = 1000 * seconds(Clock::now() - t0);
    TestHelpers::sendDatagrams(audioPort, shortStream);
    if (!veldrane.waitForCount("AudioReceiver: read error", errors + 1, 5s))
        return false;
    r.after = Bench::ProcessStats::of(veldrane.pid());
    r.handOverMs = 1000 * seconds(Clock::now() - t0);
    return controller.stop();
}

void measureRunStarts(ChildProcess& veldrane, const Bench::ProcessStats& idle, int runs)
{
    TestHelpers::OggParams params;
    params.seconds = 0.1;
    const std::vector<Bytes> shortStream = TestHelpers::splitDatagrams(TestHelpers::encodeOgg(params), 1024);
    std::vector<double> first, later, ready, handOver;
    RunStart r;
    for (int i = 0; i < runs; ++i) {
        if (!runStart(veldrane, shortStream, r)) {
            std::printf("    run start %d failed\n", i + 1);
            continue;
        }
        (i == 0 ? first : later).push_back(r.cpuMs());
        ready.push_back(r.readyMs);
        handOver.push_back(r.handOverMs);
    }
    std::vector<double> bare;
    for (int i = 0; i < 3; ++i)
        bare.push_back(bareLibraryStartMs());
    std::printf("(b) run start, \"startTransmission\" to the first buffer handed to the device, %d runs\n",
                runs);
    std::printf("    CPU first run %.1f ms, later runs median %.1f ms (min %.1f, max %.1f)\n", median(first),
                median(later), later.empty() ? 0 : *std::min_element(later.begin(), later.end()),
                later.empty() ? 0 : *std::max_element(later.begin(), later.end()));
    std::printf("    | bare RtAudio object, default device, stream opened and started to its first callback:"
                " %.1f ms\n",
                median(bare));
    std::printf("    took %.0f ms to \"udpReady\", %.0f ms to the first hand-over (medians); the last run by"
                " thread:\n",
                median(ready), median(handOver));
    ThreadRoles roles(veldrane.pid(), idle);
    for (const Bench::ThreadStats& now : r.after.threads()) {
        const Bench::ThreadStats d = r.before.since(now);
        std::printf("      %-32s %6.2f ms CPU, %ld wake-ups\n", roles(now).c_str(),
                    static_cast<double>(d.cpuNs) / 1e6, d.voluntary + d.involuntary);
    }
}

struct Round {
    double cpuPerSecond = 0; // ms of CPU per second of audio
    double wakeUpsPerSecond = 0;
    long peakKb = 0;              // peak resident memory at the round's end
    double wholeCpuPerSecond = 0; // from before the first datagram to the stream's end, played
    double firstSoundMs = -1;     // from the first datagram to the first sound on its sink
    double playedSeconds = 0;     // of sound on its sink: a side that plays nothing costs little
};

Round roundOf(const Bench::ProcessStats& before, const Bench::ProcessStats& after, double elapsed)
{
    return Round{after.cpuMsSince(before) / elapsed, wakeUps(before, after) / elapsed};
}

// What a side's sink recorded: when its sound began after the first
// datagram, and how much of it there was.
void heard(const TestHelpers::SinkRecorder& recorder, Clock::time_point firstSent, Round& r)
{
    const std::vector<float> samples = recorder.samples();
    const std::size_t first = TestHelpers::firstNonZeroFrame(samples);
    if (first == static_cast<std::size_t>(-1))
        return;
    r.firstSoundMs = std::chrono::duration<double, std::milli>(recorder.frameTime(first) - firstSent).count();
    r.playedSeconds = static_cast<double>(recorder.soundFrames()) / 44100.0;
}

// One round of (c): the receiver and the pipeline play the same stream at
// the same time, each from a sender of its own, and are measured over the
// same window, so that a busy moment of the machine weighs on both alike;
// and over the whole stream, each sink recorded from its first sound on.
bool playRound(ChildProcess& veldrane, const Bench::ProcessStats& idle, const std::vector<Bytes>& stream,
               double secs, bool show, Round& own, Round& gst)
{
    Controller controller(veldrane);
    TestHelpers::SinkRecorder ownSink, gstSink(Bench::SecondSink::name);
    ownSink.start();
    gstSink.start();
    if (!controller.connect() || !controller.start()) {
        std::printf("    the round did not start\n");
        return false;
    }
    // The pipeline plays each buffer at its time stamp counted from the
    // moment it began to play, so it starts just before its stream.
    Bench::GStreamerPeer peer;
    if (!peer.listening()) {
        std::printf("    the pipeline did not start\n");
        return false;
    }
    const Bench::ProcessStats ownStart = Bench::ProcessStats::of(veldrane.pid());
    const Bench::ProcessStats gstStart = Bench::ProcessStats::of(peer.pid());
    const TestHelpers::UdpStreamer toVeldrane(audioPort, stream, TestHelpers::UdpStreamer::Options{});
    const TestHelpers::UdpStreamer toGst(gstPort, stream, TestHelpers::UdpStreamer::Options{});
    const Clock::time_point firstSent = Clock::now();
    std::this_thread::sleep_for(settleTime);
    const Bench::ProcessStats ownBefore = Bench::ProcessStats::of(veldrane.pid());
    const Bench::ProcessStats gstBefore = Bench::ProcessStats::of(peer.pid());
    const Clock::time_point t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(secs));
    const Bench::ProcessStats ownAfter = Bench::ProcessStats::of(veldrane.pid());
    const Bench::ProcessStats gstAfter = Bench::ProcessStats::of(peer.pid());
    const double elapsed = seconds(Clock::now() - t0);
    own = roundOf(ownBefore, ownAfter, elapsed);
    gst = roundOf(gstBefore, gstAfter, elapsed);
    // The whole stream, until what each side holds has been played.
    toVeldrane.waitDone(std::chrono::duration_cast<std::chrono::milliseconds>(tailTime + 10s));
    toGst.waitDone(std::chrono::duration_cast<std::chrono::milliseconds>(tailTime + 10s));
    std::this_thread::sleep_for(tailTime);
    const double streamSeconds = seconds(settleTime + tailTime) + secs;
    own.wholeCpuPerSecond = Bench::ProcessStats::of(veldrane.pid()).cpuMsSince(ownStart) / streamSeconds;
    gst.wholeCpuPerSecond = Bench::ProcessStats::of(peer.pid()).cpuMsSince(gstStart) / streamSeconds;
    own.peakKb = Bench::peakMemoryKb(veldrane.pid());
    gst.peakKb = Bench::peakMemoryKb(peer.pid());
    ownSink.stop();
    gstSink.stop();
    heard(ownSink, firstSent, own);
    heard(gstSink, firstSent, gst);
    if (show) {
        std::printf("    last round, veldrane:\n");
        printThreads(ownBefore, ownAfter, elapsed, ThreadRoles(veldrane.pid(), idle));
        std::printf("    last round, GStreamer:\n");
        printThreads(gstBefore, gstAfter, elapsed,
                     [](const Bench::ThreadStats& t) { return "gst: " + t.name; });
    }
    controller.stop();
    return true;
}

// Baseline of the output side's wake-ups in (c): a bare RtAudio stream of
// the same buffer size in this process, whose callback plays silence.
void printBareOutputWakeUps()
{
    constexpr double secs = 10;
    std::set<long> before;
    const Bench::ProcessStats unopened = Bench::ProcessStats::of(getpid());
    for (const Bench::ThreadStats& t : unopened.threads())
        before.insert(t.tid);
    const auto silence = [](void* out, void*, unsigned int n, double, RtAudioStreamStatus, void*) {
        std::fill_n(static_cast<float*>(out), 2 * n, 0.0f);
        return 0;
    };
    RtAudio dac;
    unsigned int frames = 8192;
    Bench::startBareStream(dac, frames, silence, nullptr);
    std::this_thread::sleep_for(settleTime);
    const Bench::ProcessStats start = Bench::ProcessStats::of(getpid());
    std::this_thread::sleep_for(std::chrono::duration<double>(secs));
    const Bench::ProcessStats end = Bench::ProcessStats::of(getpid());
    dac.abortStream();
    dac.closeStream();
    std::printf(
        "    baseline of the output side: a bare RtAudio stream of %u frames in this process, %.0f s:\n",
        frames, secs);
    printThreads(start, end, secs, [&before](const Bench::ThreadStats& t) {
        if (before.count(t.tid))
            return std::string();
        return t.name == "threaded-ml" ? std::string("sound-server client (libpulse)")
                                       : std::string("audio device (RtAudio)");
    });
}

void measurePlaying(ChildProcess& veldrane, const Bench::ProcessStats& idle, double secs, int rounds)
{
    // Datagrams as many as music's: a pure tone needs few bits.
    const TestHelpers::OggParams params = TestHelpers::musicLike(seconds(settleTime + tailTime) + secs);
    const std::vector<Bytes> stream = TestHelpers::splitDatagrams(TestHelpers::encodeOgg(params), 1024);
    std::vector<double> own, gst, ratio, ownWake, gstWake, ownWhole, gstWhole, wholeRatio, ownFirst, gstFirst;
    const Bench::SecondSink sink;
    if (!sink.loaded()) {
        std::printf("(c) the sound server would not load a second null sink\n");
        return;
    }
    const int underrunsBefore = veldrane.countLines("UNDERRUN");
    std::printf("(c) playing, %.0f s in the middle of a %.0f s stream sent in real time, %d rounds, veldrane"
                " and GStreamer side by side\n",
                secs, params.seconds, rounds);
    for (int i = 0; i < rounds; ++i) {
        Round r, g;
        if (!playRound(veldrane, idle, stream, secs, i == rounds - 1, r, g))
            continue;
        own.push_back(r.cpuPerSecond);
        gst.push_back(g.cpuPerSecond);
        ratio.push_back(g.cpuPerSecond > 0 ? r.cpuPerSecond / g.cpuPerSecond : 0);
        ownWake.push_back(r.wakeUpsPerSecond);
        gstWake.push_back(g.wakeUpsPerSecond);
        ownWhole.push_back(r.wholeCpuPerSecond);
        gstWhole.push_back(g.wholeCpuPerSecond);
        wholeRatio.push_back(g.wholeCpuPerSecond > 0 ? r.wholeCpuPerSecond / g.wholeCpuPerSecond : 0);
        ownFirst.push_back(r.firstSoundMs);
        gstFirst.push_back(g.firstSoundMs);
        std::printf(
            "    round %d: veldrane %.2f ms CPU per s of audio, %.0f wake-ups/s, peak %ld KiB | GStreamer"
            " %.2f ms, %.0f wake-ups/s, peak %ld KiB (%.2f times)\n",
            i + 1, r.cpuPerSecond, r.wakeUpsPerSecond, r.peakKb, g.cpuPerSecond, g.wakeUpsPerSecond, g.peakKb,
            ratio.back());
        std::printf("      whole stream: veldrane %.2f ms CPU per s, first sound %.0f ms, %.1f s played |"
                    " GStreamer %.2f ms, first sound %.0f ms, %.1f s played (%.2f times)\n",
                    r.wholeCpuPerSecond, r.firstSoundMs, r.playedSeconds, g.wholeCpuPerSecond, g.firstSoundMs,
                    g.playedSeconds, wholeRatio.back());
    }
    std::printf("    median: veldrane %.2f ms CPU per s of audio, %.0f wake-ups/s | GStreamer %.2f ms, %.0f"
                " wake-ups/s; ratio of a round's pair %.2f\n",
                median(own), median(ownWake), median(gst), median(gstWake), median(ratio));
    std::printf(
        "    median, whole stream: veldrane %.2f ms CPU per s, first sound %.0f ms | GStreamer %.2f ms,"
        " first sound %.0f ms; ratio of a round's pair %.2f\n",
        median(ownWhole), median(ownFirst), median(gstWhole), median(gstFirst), median(wholeRatio));
    std::printf("    UNDERRUN lines while playing: %d\n", veldrane.countLines("UNDERRUN") - underrunsBefore);
    printBareOutputWakeUps();
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const double roundSeconds = argc > 1 ? std::atof(argv[1]) : 30;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const int runStarts = argc > 3 ? std::atoi(argv[3]) : 10;
    const std::string binary = argc > 4 ? argv[4] : VELDRANE_BINARY_DIR "/veldrane";

    ChildProcess veldrane(binary);
    if (!veldrane.waitForStdout("lytter på port 8888", 10s)) {
        std::fprintf(stderr, "veldrane did not start\n");
        return 1;
    }
    const Bench::ProcessStats idle = measureIdle(veldrane);
    measureRunStarts(veldrane, idle, runStarts);
    measurePlaying(veldrane, idle, roundSeconds, rounds);
    std::printf("(d) hand-over to sound, in this process\n");
    Bench::printHandOverLatency();
    return 0;
}
