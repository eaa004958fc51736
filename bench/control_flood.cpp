// Resident memory of a real veldrane under floods of control words, beside
// its idle size measured in the same run. Each flood goes to one
// controller on port 8888:
//   startTransmissionAgain   the word again and again (nothing to answer)
//   unknown words            "xyzzy " again and again (one console line each)
//   alive, read              "alive N " counting up, the replies read as they
//                            come and checked: all there, in order
//   alive, not read          "alive 1 " never read: the controller is dropped
// Usage: bench_control_flood [megabytes per flood=50] [path to veldrane]
// Uses port 8888: run alone in a network namespace of its own:
//   unshare -n sh -c 'ip link set lo up; build/bench/bench_control_flood'
#include "test_helpers/flood.h"
#include "test_helpers/reply_collector.h"
#include "test_helpers/tcp_client.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

extern char** environ;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TestHelpers::TcpClient;

namespace {

// veldrane with its console to /dev/null, so the console costs nothing here.
pid_t startQuiet(const std::string& path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

// Samples the process's resident memory every few milliseconds while alive.
class PeakSampler {
public:
    explicit PeakSampler(pid_t pid) : _pid(pid), _peak(TestHelpers::residentKiB(pid))
    {
        _thread = std::thread([this] {
            while (!_stop) {
                _peak = std::max(_peak.load(), TestHelpers::residentKiB(_pid));
                std::this_thread::sleep_for(2ms);
            }
        });
    }
    ~PeakSampler()
    {
        _stop = true;
        _thread.join();
    }
    long peak() const { return _peak; }

private:
    pid_t _pid;
    std::atomic<long> _peak;
    std::atomic<bool> _stop{false};
    std::thread _thread;
};

bool served(TcpClient& c, int token)
{
    const std::string ask = "alive " + std::to_string(token) + " ";
    return c.send(ask) && c.readBytes(ask.size(), 60s) == ask;
}

std::string repeated(const std::string& word)
{
    std::string piece;
    while (piece.size() < 65536)
        piece += word;
    return piece;
}

void report(const char* name, long idle, long peak, long after, size_t sent, double seconds,
            const std::string& note)
{
    std::printf(
        "%-24s idle %6ld KiB  peak %6ld KiB (%+6ld)  after %6ld KiB (%+6ld)  %5.1f MB in %5.1f s  %s\n", name,
        idle, peak, peak - idle, after, after - idle, static_cast<double>(sent) / 1e6, seconds, note.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const size_t bytes = static_cast<size_t>(argc > 1 ? std::atof(argv[1]) : 50.0) * 1000000;
    const std::string path = argc > 2 ? argv[2] : VELDRANE_BINARY_DIR "/veldrane";
    const pid_t pid = startQuiet(path);
    if (pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", path.c_str());
        return 1;
    }
    TcpClient controller;
    if (!controller.connect(8888, 10s) || !served(controller, 0)) {
        std::fprintf(stderr, "veldrane does not answer on port 8888\n");
        kill(pid, SIGKILL);
        return 1;
    }
    const long idle = TestHelpers::residentKiB(pid);
    int failures = 0;

    for (const auto& [name, word] :
         {std::pair<const char*, std::string>{"startTransmissionAgain", "startTransmissionAgain "},
          std::pair<const char*, std::string>{"unknown words", "xyzzy "}}) {
        const std::string piece = repeated(word);
        PeakSampler sampler(pid);
        const auto start = Clock::now();
        const auto r = TestHelpers::flood(
            controller.fd(), [&] { return piece; }, bytes, 600s);
        const bool answered = served(controller, 1);
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        failures += !answered;
        report(name, idle, sampler.peak(), TestHelpers::residentKiB(pid), r.sent, s,
               answered ? "served after it" : "NOT SERVED AFTER IT");
    }

    {
        TestHelpers::ReplyCollector collector(controller);
        int number = 100;
        PeakSampler sampler(pid);
        const auto start = Clock::now();
        const auto r = TestHelpers::flood(
            controller.fd(),
            [&] {
                std::string words;
                for (int i = 0; i < 4096; ++i)
                    words += "alive " + std::to_string(number++) + " ";
                return words;
            },
            bytes, 600s);
        const std::string last = "alive " + std::to_string(number - 1) + " ";
        const auto deadline = Clock::now() + 60s;
        while (Clock::now() < deadline && !collector.endsWith(last))
            std::this_thread::sleep_for(10ms);
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        const std::string replies = collector.stop();
        std::string expected;
        for (int i = 100; i < number; ++i)
            expected += "alive " + std::to_string(i) + " ";
        const bool right = !r.peerGone && replies == expected;
        if (!right)
            std::printf(
                "peer gone %d, %zu bytes of replies, %zu expected, first difference at %zu\n", r.peerGone,
                replies.size(), expected.size(),
                static_cast<size_t>(
                    std::mismatch(replies.begin(), replies.end(), expected.begin(), expected.end()).first
                    - replies.begin()));
        failures += !right;
        report("alive, read", idle, sampler.peak(), TestHelpers::residentKiB(pid), r.sent, s,
               right ? std::to_string(number - 100) + " replies, all in order"
                     : "REPLIES WRONG OR CONNECTION LOST");
    }

    {
        const std::string piece = repeated("alive 1 ");
        PeakSampler sampler(pid);
        const auto start = Clock::now();
        const auto r = TestHelpers::flood(
            controller.fd(), [&] { return piece; }, bytes, 600s);
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        TcpClient next;
        const bool nextServed = next.connect(8888, 5s) && served(next, 2);
        failures += !r.peerGone || !nextServed;
        report("alive, not read", idle, sampler.peak(), TestHelpers::residentKiB(pid), r.sent, s,
               std::string(r.peerGone ? "dropped" : "NOT DROPPED")
                   + (nextServed ? ", next served" : ", NEXT NOT SERVED"));
    }

    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return failures ? 1 : 0;
}
