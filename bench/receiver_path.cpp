// The whole receiver, measured from outside as a controller sees it: a real
// `veldrane` on ports 8888/6666, a null sink recorded by parec.
//   - "startTransmission" to the "udpReady" reply (median of 20 runs);
//   - first datagram to the first sound in the recording;
//   - controller disconnect to "dekoding stoppet";
//   - CPU of veldrane per second of audio while a stream plays in real
//     time, and while idle, beside the floor: a bare ov_read_float decode
//     of the same stream in this process;
//   - peak memory of veldrane, and the UNDERRUN lines it printed.
// Needs a sound server (scripts/pulse.sh). Usage:
//   bench_receiver_path [seconds of audio, default 120] [runs, default 20]

#include "support/thread_stats.h"
#include "test_helpers/child_process.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/process_cpu.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/udp_streamer.h"
#include "test_helpers/wait.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono;
using namespace TestHelpers;

namespace {

double ms(steady_clock::duration d)
{
    return duration<double, std::milli>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double thisProcessCpu()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool connectController(ChildProcess& veldrane, TcpClient& c, int& greetings)
{
    if (!c.connect(8888, seconds(5)))
        return false;
    return veldrane.waitForCount("ServerCmd: koblet til", ++greetings, seconds(5));
}

} // namespace

int main(int argc, char** argv)
{
    const double audioSeconds = argc > 1 ? std::atof(argv[1]) : 120.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;

    OggParams params;
    params.seconds = audioSeconds;
    const Bytes stream = encodeOgg(params);
    const double cpu0 = thisProcessCpu();
    const auto reference = referenceDecode(stream);
    const double floorCpu = thisProcessCpu() - cpu0;

    ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    if (!veldrane.waitForStdout("lytter på port 8888", seconds(10))) {
        std::fprintf(stderr, "veldrane did not start\n");
        return 1;
    }
    int greetings = 0;

    // Idle CPU.
    std::this_thread::sleep_for(seconds(1));
    double idle0 = processCpuSeconds(veldrane.pid());
    std::this_thread::sleep_for(seconds(10));
    const double idleCpu = processCpuSeconds(veldrane.pid()) - idle0;

    // "startTransmission" to "udpReady", and disconnect to "dekoding stoppet"
    // is measured on the played run below.
    std::vector<double> readyMs;
    for (int i = 0; i < runs; ++i) {
        TcpClient c;
        if (!connectController(veldrane, c, greetings))
            return 1;
        const auto t0 = steady_clock::now();
        c.send("startTransmission");
        if (c.readUntil("udpReady 6666 ", seconds(5)).empty())
            return 1;
        readyMs.push_back(ms(steady_clock::now() - t0));
        c.close();
        veldrane.waitForCount("AudioReceiver::onConnectionBroken()", i + 1, seconds(5));
    }

    // A played stream.
    SinkRecorder recorder;
    recorder.start();
    TcpClient c;
    if (!connectController(veldrane, c, greetings))
        return 1;
    c.send("startTransmission");
    if (c.readUntil("udpReady 6666 ", seconds(5)).empty())
        return 1;
    const double cpuStart = processCpuSeconds(veldrane.pid());
    UdpStreamer::Options pacing;
    UdpStreamer streamer(6666, splitDatagrams(stream, 1024), pacing);
    const auto firstSent = steady_clock::now();
    waitFor([&] { return recorder.soundFrames() > 0; }, seconds(10));
    const double firstSoundMs = ms(steady_clock::now() - firstSent);
    streamer.waitDone(seconds(long(audioSeconds) + 30));
    recorder.waitForSound(reference.size() / 2 - 8192, seconds(10));
    const double playCpu = processCpuSeconds(veldrane.pid()) - cpuStart;
    recorder.stop();

    const auto t0 = steady_clock::now();
    c.close();
    veldrane.waitForStdout("dekoding stoppet", seconds(5));
    const double stopMs = ms(steady_clock::now() - t0);

    std::printf("startTransmission -> udpReady, median of %d: %.1f ms (min %.1f, max %.1f)\n", runs,
                median(readyMs), *std::min_element(readyMs.begin(), readyMs.end()),
                *std::max_element(readyMs.begin(), readyMs.end()));
    std::printf("first datagram -> first sound in the recording: %.0f ms (one output buffer lasts 186 ms)\n",
                firstSoundMs);
    std::printf("disconnect -> \"dekoding stoppet\": %.0f ms\n", stopMs);
    std::printf("veldrane CPU while playing: %.4f s per s of audio (%.2f s over %.0f s)\n",
                playCpu / audioSeconds, playCpu, audioSeconds);
    std::printf("floor, bare ov_read_float of the same stream: %.4f s per s of audio; ratio %.2f\n",
                floorCpu / audioSeconds, playCpu / floorCpu);
    std::printf("veldrane CPU while idle: %.3f s over 10 s\n", idleCpu);
    std::printf("veldrane peak memory (VmHWM): %ld kB\n", Bench::peakMemoryKb(veldrane.pid()));
    std::printf("UNDERRUN lines: %d\n", veldrane.countLines("UNDERRUN"));
    return 0;
}
