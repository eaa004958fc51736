// Control channel figures of a real veldrane, each beside a baseline
// measured in this same run:
//   (a) connect to "ServerCmd: koblet til" on its console, vs. connect to
//       accept() of a bare loopback listener;
//   (b) "alive 1" round trip, vs. a bare loopback TCP echo;
//   (c) open descriptors of the process before and after N reconnections;
//   (d) wake-ups per second of each of its threads while no controller is
//       connected, vs. the design's floor: the main loop's 20 passes a
//       second, the command server's one accept attempt a second; and its
//       CPU time per second, vs. a bare loop that sleeps 50 ms, measured
//       over the same seconds.
// Usage: bench_control_latency [reconnections=1000] [path to veldrane]
// Uses port 8888: run under flock /tmp/veldrane-ports.lock, or alone in a
// network namespace of its own: unshare -n sh -c 'ip link set lo up; ...'.
#include "support/sleep_loop.h"
#include "support/thread_stats.h"
#include "test_helpers/child_process.h"
#include "test_helpers/loopback.h"
#include "test_helpers/tcp_client.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TestHelpers::ChildProcess;
using TestHelpers::TcpClient;

namespace {

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int openDescriptors(pid_t pid)
{
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!dir)
        return -1;
    int n = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.')
            ++n;
    closedir(dir);
    return n;
}

// A bare loopback listener that accepts, then echoes everything back.
class EchoServer {
public:
    EchoServer()
    {
        _socket.listen(5);
        _thread = std::thread([this] { run(); });
    }
    ~EchoServer()
    {
        _stop = true;
        shutdown(_socket.fd(), SHUT_RDWR);
        _thread.join();
    }
    int port() const { return _socket.port(); }
    Clock::time_point lastAccept() const { return Clock::time_point(Clock::duration(_accepted.load())); }

private:
    void run()
    {
        while (!_stop) {
            const int c = accept(_socket.fd(), nullptr, nullptr);
            if (c < 0)
                return;
            _accepted = Clock::now().time_since_epoch().count();
            char buf[256];
            ssize_t n;
            while ((n = recv(c, buf, sizeof buf, 0)) > 0)
                send(c, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
            close(c);
        }
    }

    TestHelpers::LoopbackSocket _socket{TestHelpers::LoopbackSocket::Kind::Tcp};
    std::atomic<bool> _stop{false};
    std::atomic<Clock::rep> _accepted{0};
    std::thread _thread;
};

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const int reconnections = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::string binary = argc > 2 ? argv[2] : VELDRANE_BINARY_DIR "/veldrane";

    EchoServer echo;
    ChildProcess program(binary);
    if (!program.waitForStdout("lytter på port 8888", 10s)) {
        std::fprintf(stderr, "veldrane did not start\n");
        return 1;
    }

    // (a) connect to greeting.
    std::vector<double> greet, acceptBase;
    for (int i = 0; i < 5; ++i) {
        TcpClient base;
        const auto t0 = Clock::now();
        base.connect(echo.port());
        while (echo.lastAccept() < t0)
            std::this_thread::sleep_for(50us);
        acceptBase.push_back(ms(echo.lastAccept() - t0));
        base.close();

        TcpClient c;
        const int before = program.countLines("ServerCmd: koblet til");
        const auto t1 = Clock::now();
        c.connect(8888);
        if (!program.waitForCount("ServerCmd: koblet til", before + 1, 10s)) {
            std::fprintf(stderr, "no greeting\n");
            return 1;
        }
        greet.push_back(ms(Clock::now() - t1));
        c.close();
        program.waitForCount("connection broken", before + 1, 5s);
    }
    std::printf("(a) connect to greeting: median %.1f ms over %zu  | baseline connect to accept(): %.3f ms\n",
                median(greet), greet.size(), median(acceptBase));

    // (b) "alive 1" round trip.
    TcpClient controller;
    controller.connect(8888);
    controller.send("alive 0 ");
    if (controller.readBytes(8, 10s) != "alive 0 ") {
        std::fprintf(stderr, "no alive reply\n");
        return 1;
    }
    TcpClient echoClient;
    echoClient.connect(echo.port());
    std::vector<double> alive, echoRtt;
    for (int i = 0; i < 20; ++i) {
        auto t0 = Clock::now();
        // Ended by a separator, as controllers end their words: a word
        // without one ends only after a 100 ms pause.
        controller.send("alive 1 ");
        if (controller.readBytes(8, 5s) != "alive 1 ")
            std::fprintf(stderr, "bad alive reply\n");
        alive.push_back(ms(Clock::now() - t0));
        t0 = Clock::now();
        echoClient.send("alive 1 ");
        echoClient.readBytes(8, 5s);
        echoRtt.push_back(ms(Clock::now() - t0));
    }
    std::printf("(b) alive round trip: median %.2f ms over 20  | baseline loopback echo: %.3f ms\n",
                median(alive), median(echoRtt));
    controller.close();
    program.waitForCount("connection broken", 6, 5s);

    // (c) descriptors across reconnections. The server closes a connection
    // just after its "connection broken" line, so each count waits a bit.
    std::this_thread::sleep_for(300ms);
    const int fdBefore = openDescriptors(program.pid());
    for (int i = 1; i <= reconnections; ++i) {
        TcpClient c;
        c.connect(8888);
        const std::string token = "alive " + std::to_string(i) + " ";
        c.send(token);
        if (c.readBytes(token.size(), 10s) != token) {
            std::fprintf(stderr, "reconnection %d not served\n", i);
            return 1;
        }
        c.close();
        program.waitForCount("connection broken", 6 + i, 5s);
        if (i % 100 == 0) {
            std::printf("    after %d reconnections: %d descriptors\n", i, openDescriptors(program.pid()));
            std::fflush(stdout);
        }
    }
    std::this_thread::sleep_for(300ms);
    const int fdAfter = openDescriptors(program.pid());
    std::printf("(c) open descriptors: %d before, %d after %d reconnections (running: %s)\n", fdBefore,
                fdAfter, reconnections, program.isRunning() ? "yes" : "no");

    // (d) idle wake-ups and CPU, no controller connected.
    constexpr int idleSeconds = 10;
    const Bench::SleepLoop floor;
    const Bench::ProcessStats before = Bench::ProcessStats::of(program.pid());
    const Bench::ProcessStats floorBefore = Bench::ProcessStats::of(floor.pid());
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const Bench::ProcessStats after = Bench::ProcessStats::of(program.pid());
    const double cpu = after.cpuMsSince(before);
    const double floorCpu = Bench::ProcessStats::of(floor.pid()).cpuMsSince(floorBefore);
    std::printf("(d) idle wake-ups per second by thread:");
    for (const Bench::ThreadStats& t : after.threads())
        std::printf(" %.1f", static_cast<double>(before.since(t).voluntary) / idleSeconds);
    std::printf("  | floor: main 20, command server 1\n");
    std::printf("    idle CPU: %.2f ms per s | bare 50 ms sleep loop: %.2f ms per s (%.2f times)\n",
                cpu / idleSeconds, floorCpu / idleSeconds, floorCpu > 0 ? cpu / floorCpu : 0.0);
    return 0;
}
