// Figures of veldrane-send playing through a real veldrane, each beside a
// baseline measured in this same run:
//   (a) from the start of veldrane-send to the first sound on the null
//       sink's monitor (several short runs);
//   (b) the receiver's CPU time per second of audio while veldrane-send
//       plays a long stream, beside the receiver's CPU per second while
//       idle and a bare decode (libvorbisfile) of the same stream;
//   (c) veldrane-send's own CPU time per second of audio;
//   (d) the long stream's recording against its reference decode: whether
//       every frame was heard once, in order, and silence after the last.
// The recording for (d) runs during (b): a 10 ms capture makes the sink
// render in small blocks and about doubles the wake-ups of the receiver's
// output threads, so compare (b) only with (b) of this same program.
// Usage: bench_send_path [seconds=120] [latency runs=3]
// Needs the test sound server (scripts/pulse.sh start DIR and its env) and
// uses ports 8888/6666: run under flock /tmp/veldrane-ports.lock.
#include "support/run_cost.h"
#include "test_helpers/child_process.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/process_cpu.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/temp_file.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const std::string senderPath = VELDRANE_BINARY_DIR "/tools/veldrane-send";

double selfCpu()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
           + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Runs veldrane-send to its end; its CPU seconds go to cpu.
int runSender(const std::vector<std::string>& args, double& cpu, Clock::time_point& started)
{
    std::vector<std::string> all = {"--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    const Bench::RunCost cost = Bench::runCounted(senderPath, all);
    cpu = cost.cpuSeconds;
    started = cost.started;
    return cost.exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 120.0;
    int latencyRuns = argc > 2 ? std::atoi(argv[2]) : 3;

    TestHelpers::OggParams params;
    params.seconds = seconds;
    TestHelpers::Bytes longStream = TestHelpers::encodeOgg(params);
    params.seconds = 3;
    TestHelpers::Bytes shortStream = TestHelpers::encodeOgg(params);
    const TestHelpers::TempFile longFile(longStream);
    const TestHelpers::TempFile shortFile(shortStream);
    const std::string& longPath = longFile.path();
    const std::string& shortPath = shortFile.path();

    // Baseline for (b): a bare decode of the same stream in this process.
    double before = selfCpu();
    std::vector<float> decoded = TestHelpers::referenceDecode(longStream);
    double decodeCpu = selfCpu() - before;
    double audioSeconds = static_cast<double>(decoded.size() / 2) / 44100.0;

    TestHelpers::ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    if (!veldrane.waitForStdout("lytter på port 8888", 10s)) {
        std::fprintf(stderr, "veldrane did not start\n");
        return 1;
    }
    // Baseline for (b): the receiver idle, with no controller.
    std::this_thread::sleep_for(1s);
    double idle0 = TestHelpers::processCpuSeconds(veldrane.pid());
    Clock::time_point idleStart = Clock::now();
    std::this_thread::sleep_for(5s);
    double idleCpu = (TestHelpers::processCpuSeconds(veldrane.pid()) - idle0)
                     / std::chrono::duration<double>(Clock::now() - idleStart).count();

    // (a) first sound after the sender starts.
    std::vector<double> latencies;
    for (int run = 0; run < latencyRuns; ++run) {
        TestHelpers::SinkRecorder recorder;
        recorder.start();
        // The capture runs in real time: the frame count at the launch
        // marks the launch in the recording (to within the capture's own
        // latency, about 20 ms).
        std::size_t launchFrame = recorder.frames();
        Clock::time_point started;
        double cpu = 0;
        int code = runSender({"127.0.0.1", shortPath}, cpu, started);
        recorder.stop();
        std::size_t first = TestHelpers::firstNonZeroFrame(recorder.samples(), launchFrame);
        if (code != 0 || first == static_cast<std::size_t>(-1)) {
            std::fprintf(stderr, "latency run %d failed (exit %d)\n", run, code);
            continue;
        }
        double latency = static_cast<double>(first - launchFrame) / 44100.0;
        latencies.push_back(latency);
        // Let the receiver notice the closed connection before the next run.
        veldrane.waitForCount("dekoding stoppet", run + 1, 5s);
        std::this_thread::sleep_for(1s);
    }

    // (b), (c) and (d): a long stream.
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    double receiver0 = TestHelpers::processCpuSeconds(veldrane.pid());
    Clock::time_point started;
    double senderCpu = 0;
    int code = runSender({"127.0.0.1", longPath}, senderCpu, started);
    double receiverCpu = TestHelpers::processCpuSeconds(veldrane.pid()) - receiver0;
    double wall = std::chrono::duration<double>(Clock::now() - started).count();
    int underruns = veldrane.countLines("UNDERRUN");
    recorder.waitForSound(decoded.size() / 2 + 2 * TestHelpers::receiverBufferFrames, 5s);
    recorder.stop();
    const std::vector<float> recording = recorder.samples();
    const TestHelpers::Comparison match = TestHelpers::compareWithReference(recording, decoded);
    const std::size_t end = match.offset + match.referenceFrames;
    const std::size_t afterEnd = recording.size() / 2 > end ? recording.size() / 2 - end : 0;
    std::size_t loudAfter = 0;
    for (std::size_t f = end; f < recording.size() / 2; ++f)
        loudAfter += recording[2 * f] != 0 || recording[2 * f + 1] != 0;
    const std::vector<float> heard = TestHelpers::withoutSilence(recording);
    const std::vector<float> whole = TestHelpers::withoutSilence(decoded);
    const long extra = static_cast<long>(heard.size() / 2) - static_cast<long>(whole.size() / 2);

    std::printf("veldrane-send through veldrane to the null sink\n");
    std::printf("(a) sender start to first sound, %zu runs of a 3 s stream:", latencies.size());
    for (double l : latencies)
        std::printf(" %.3f s", l);
    std::printf("\n    (includes the receiver's polled accept, 1 to 2 s, and its output latency)\n");
    std::printf("(b) %.1f s of audio, sender exit %d, %.1f s wall, %d UNDERRUN lines\n", audioSeconds, code,
                wall, underruns);
    std::printf("    receiver CPU while playing: %.2f ms per s of audio (%.2f %% of a core)\n",
                1000 * receiverCpu / audioSeconds, 100 * receiverCpu / wall);
    std::printf("    baseline, receiver idle:    %.2f ms per s\n", 1000 * idleCpu);
    std::printf("    baseline, bare decode:      %.2f ms per s of audio\n", 1000 * decodeCpu / audioSeconds);
    std::printf("(c) sender CPU:                 %.2f ms per s of audio (%.3f s in all)\n",
                1000 * senderCpu / audioSeconds, senderCpu);
    std::printf("(d) recording against the reference: %s\n", match.describe().c_str());
    std::printf(
        "    every frame once, in order (silence aside): %s; frames heard minus frames in the stream: %ld"
        " (%.1f buffers of %zu)\n",
        heard == whole ? "yes" : "no", extra, double(extra) / TestHelpers::receiverBufferFrames,
        TestHelpers::receiverBufferFrames);
    std::printf("    after the last frame: %zu frames recorded, %zu of them not silent\n", afterEnd,
                loudAfter);
    return code == 0 ? 0 : 1;
}
