// Resources of a receiver that serves many short runs, as one does over
// months: a controller connects, starts a run, plays a second of audio and
// leaves, N times. Prints open descriptors, threads and resident memory of
// veldrane at the start, every tenth of the way and at the end (aim: flat),
// beside the idle receiver's own figures taken before the first run.
// Usage: bench_run_cycles [runs=1000]
// Needs a sound server (scripts/bench.sh starts one) and ports 8888/6666.
#include "test_helpers/child_process.h"
#include "test_helpers/loopback.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/udp_streamer.h"
#include "test_helpers/wait.h"

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace std::chrono_literals;

namespace {

int descriptors(pid_t pid)
{
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!dir)
        return -1;
    int n = 0;
    while (readdir(dir))
        ++n;
    closedir(dir);
    return n - 2; // . and ..
}

long statusField(pid_t pid, const std::string& field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

void report(const char* when, pid_t pid)
{
    std::printf("%-16s descriptors %3d  threads %3ld  resident %6ld KiB\n", when, descriptors(pid),
                statusField(pid, "Threads"), statusField(pid, "VmRSS"));
    std::fflush(stdout);
}

// One run; false when the receiver did not play or stop as it should.
bool cycle(TestHelpers::ChildProcess& veldrane, const std::vector<TestHelpers::Bytes>& stream, int n)
{
    TestHelpers::TcpClient controller;
    if (!controller.connect(8888, 5s) || !veldrane.waitForCount("ServerCmd: koblet til", n, 5s))
        return false;
    controller.send("startTransmission");
    if (controller.readUntil("udpReady 6666 ", 5s) != "udpReady 6666 ")
        return false;
    TestHelpers::UdpStreamer streamer(6666, stream, TestHelpers::UdpStreamer::Options{});
    if (!veldrane.waitForCount("starter dekoding", n, 5s) || !streamer.waitDone(5s))
        return false;
    controller.close();
    // The run has ended once it has let go of the port.
    return veldrane.waitForCount("dekoding stoppet", n, 5s)
           && TestHelpers::waitFor([] { return TestHelpers::portFree(6666); }, 5s);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000;
    TestHelpers::OggParams params;
    params.seconds = 1;
    const auto stream = TestHelpers::splitDatagrams(TestHelpers::encodeOgg(params), 1024);

    TestHelpers::ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    if (!veldrane.waitForStdout("lytter på port 8888", 10s)) {
        std::fprintf(stderr, "veldrane did not start\n");
        return 1;
    }
    std::printf("run_cycles: %d runs of 1 s of audio, each with its own controller\n", runs);
    report("idle, before", veldrane.pid());
    int failed = 0;
    for (int n = 1; n <= runs; ++n) {
        if (!cycle(veldrane, stream, n - failed))
            ++failed;
        if (n == 1)
            report("after run 1", veldrane.pid());
        else if (n % (runs >= 10 ? runs / 10 : 1) == 0)
            report(("after run " + std::to_string(n)).c_str(), veldrane.pid());
    }
    std::printf("runs that did not play and stop as they should: %d of %d; UNDERRUN lines: %d\n", failed,
                runs, veldrane.countLines("UNDERRUN"));
    return failed == 0 ? 0 : 1;
}
