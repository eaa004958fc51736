// locks: ports
#include "test_helpers/child_process.h"
#include "test_helpers/flood.h"
#include "test_helpers/loopback.h"
#include "test_helpers/reply_collector.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/wait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using namespace std::string_literals;
using TestHelpers::ChildProcess;
using TestHelpers::TcpClient;

namespace {

const std::string binary = VELDRANE_BINARY_DIR "/veldrane";

// A started receiver with one controller connected and served.
void connectServed(ChildProcess& program, TcpClient& controller, int greetings = 1)
{
    ASSERT_TRUE(program.waitForStdout("lytter på port 8888", 10s));
    ASSERT_TRUE(controller.connect(8888, 5s));
    ASSERT_TRUE(program.waitForCount("ServerCmd: koblet til", greetings, 10s, ChildProcess::Stream::Out));
}

// The lowest descriptor a child started now finds free: above its standard
// streams and whatever this process would let it inherit.
int firstFreeInChild()
{
    std::set<int> taken{0, 1, 2};
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    while (const dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != dirfd(dir) && !(fcntl(fd, F_GETFD) & FD_CLOEXEC))
            taken.insert(fd);
    }
    closedir(dir);
    int fd = 0;
    while (taken.count(fd))
        ++fd;
    return fd;
}

int lowestFree(pid_t pid)
{
    std::set<int> open;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    while (const dirent* entry = dir ? readdir(dir) : nullptr)
        open.insert(std::atoi(entry->d_name));
    if (dir)
        closedir(dir);
    int free = 0;
    while (open.count(free))
        ++free;
    return free;
}

std::string aliveRun(int from, int count)
{
    std::string words;
    for (int i = from; i < from + count; ++i)
        words += "alive " + std::to_string(i) + " ";
    return words;
}

TEST(ControlProgram, ServesAControllerAndOutlivesIt)
{
    ChildProcess program(binary);
    ASSERT_TRUE(program.waitForStdout("lytter på port 8888", 10s));
    EXPECT_EQ(program.countLines("lytter på port 8888"), 1);

    TcpClient controller;
    ASSERT_TRUE(controller.connect(8888, 5s));
    ASSERT_TRUE(program.waitForStdout("ServerCmd: koblet til", 10s));
    ASSERT_TRUE(controller.send("alive 7"));
    EXPECT_EQ(controller.readBytes(8, 5s), "alive 7 ");
    ASSERT_TRUE(controller.send("hei\r\n"));
    EXPECT_TRUE(program.waitForStderr("ServerCmd: Ukjent signal: hei", 5s));

    controller.close();
    ASSERT_TRUE(program.waitForStdout("connection broken", 5s));
    EXPECT_EQ(program.countLines("connection broken"), 1);

    // Still running, and the next controller is served.
    TcpClient next;
    ASSERT_TRUE(next.connect(8888, 5s));
    ASSERT_TRUE(program.waitForCount("ServerCmd: koblet til", 2, 10s, ChildProcess::Stream::Out));
    ASSERT_TRUE(next.send("alive -3 "));
    EXPECT_EQ(next.readBytes(9, 5s), "alive -3 ");
    EXPECT_TRUE(program.isRunning());
    EXPECT_EQ(program.countLines("lytter på port 8888"), 1);
}

TEST(ControlProgram, ControllerLeavingMidReplyDoesNotEndTheProgram)
{
    ChildProcess program(binary);
    ASSERT_TRUE(program.waitForStdout("lytter på port 8888", 10s));
    for (int round = 1; round <= 2; ++round) {
        TcpClient controller;
        ASSERT_TRUE(controller.connect(8888, 5s));
        ASSERT_TRUE(program.waitForCount("ServerCmd: koblet til", round, 10s));
        std::string many;
        for (int i = 0; i < 30; ++i)
            many += "alive " + std::to_string(i) + " ";
        ASSERT_TRUE(controller.send(many));
        controller.close();
        ASSERT_TRUE(program.waitForCount("connection broken", round, 5s));
    }
    EXPECT_TRUE(program.isRunning());
}

TEST(ControlProgram, HostileBytesAreWordsAndReachTheConsoleEscaped)
{
    ChildProcess program(binary);
    TcpClient controller;
    connectServed(program, controller);

    std::string junk;
    for (int i = 1; i < 512; ++i)
        junk += static_cast<char>((i * 37) & 0xff);
    ASSERT_TRUE(controller.send(junk + " "));
    const std::string input =
        "alive 1\0alive 2\0\0\x1b[2J\0\x1b]0;owned\x07 "s + std::string(100, 'A') + " \xff\xfeok\0alive 3\0"s;
    ASSERT_TRUE(controller.send(input));
    EXPECT_EQ(controller.readUntil("alive 3 ", 5s), "alive 1 alive 2 alive 3 ");

    ASSERT_TRUE(program.waitForStderr("Ukjent signal: \\xff\\xfeok", 5s));
    EXPECT_EQ(program.countLines("ServerCmd: Ukjent signal: \\x1b[2J", ChildProcess::Stream::Err), 1);
    EXPECT_EQ(program.countLines("ServerCmd: Ukjent signal: \\x1b]0;owned\\x07", ChildProcess::Stream::Err),
              1);
    EXPECT_EQ(program.countLines("ServerCmd: Ukjent signal: " + std::string(64, 'A') + "...",
                                 ChildProcess::Stream::Err),
              1);
    const std::string prefix = "ServerCmd: Ukjent signal: ";
    for (const std::string& line : program.lines()) {
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return c != 0x1b && c != 0; }))
            << "raw control bytes on the console: " << line;
        if (line.rfind(prefix, 0) == 0) {
            EXPECT_LE(line.size(), prefix.size() + 64 * 4 + 3);
        }
    }
    EXPECT_TRUE(program.isRunning());
}

TEST(ControlProgram, ControllerThatDoesNotReadIsDroppedAndTheNextIsServed)
{
    ChildProcess program(binary);
    TcpClient flooder;
    connectServed(program, flooder);
    // Waits behind the flooder, as a controller does.
    TcpClient next;
    ASSERT_TRUE(next.connect(8888, 5s));
    ASSERT_TRUE(next.send("alive 9 "));

    // "alive" without ever reading a reply: far more than any buffer holds.
    const auto result = TestHelpers::flood(
        flooder.fd(), [] { return aliveRun(1, 4096); }, 200u << 20, 60s);
    EXPECT_TRUE(result.peerGone) << "sent " << result.sent << " bytes and still connected";
    ASSERT_TRUE(program.waitForStdout("connection broken", 5s));

    EXPECT_EQ(next.readBytes(8, 5s), "alive 9 ");
    ASSERT_TRUE(next.send("alive 10 "));
    EXPECT_EQ(next.readBytes(9, 5s), "alive 10 ");
    EXPECT_EQ(program.countLines("connection broken"), 1);
}

TEST(ControlProgram, FloodsOfWordsLeaveMemoryBoundedAndEveryAliveAnsweredInOrder)
{
    ChildProcess program(binary);
    TcpClient controller;
    connectServed(program, controller);
    ASSERT_TRUE(controller.send("alive 0 "));
    ASSERT_EQ(controller.readBytes(8, 5s), "alive 0 ");
    const long idle = TestHelpers::residentKiB(program.pid());
    ASSERT_GT(idle, 0);
    long peak = idle;
    auto sample = [&] { peak = std::max(peak, TestHelpers::residentKiB(program.pid())); };
    constexpr size_t floodBytes = 8u << 20;

    // Words that ask for nothing, or for a state the receiver already has;
    // unknown words long enough to be cut, so the console stays readable.
    for (const std::string& word :
         {std::string("startTransmissionAgain "), std::string(100, 'x') + "\x01 "}) {
        std::string piece;
        while (piece.size() < 65536)
            piece += word;
        const auto r = TestHelpers::flood(
            controller.fd(), [&] { return piece; }, floodBytes, 120s, sample);
        ASSERT_GE(r.sent, floodBytes);
        ASSERT_TRUE(controller.send("alive 1 "));
        ASSERT_EQ(controller.readBytes(8, 60s), "alive 1 ");
    }

    // "alive" with numbers that count up, read while sent: every reply
    // comes, in order.
    TestHelpers::ReplyCollector collector(controller);
    int number = 100;
    const auto r = TestHelpers::flood(
        controller.fd(),
        [&] {
            const std::string words = aliveRun(number, 1000);
            number += 1000;
            return words;
        },
        floodBytes, 120s, sample);
    EXPECT_TRUE(TestHelpers::waitFor(
        [&] { return collector.endsWith("alive " + std::to_string(number - 1) + " "); }, 30s));
    const std::string replies = collector.stop();
    ASSERT_FALSE(r.peerGone);
    EXPECT_TRUE(replies == aliveRun(100, number - 100)) << "replies differ from the requests";
    sample();

    // Generous: the point is that it does not grow with the flood. A
    // sanitizer's allocator keeps freed memory for a while, so its figure
    // says nothing about ours.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(peak - idle, 8 * 1024) << "idle " << idle << " KiB, peak " << peak << " KiB";
#endif
    EXPECT_EQ(program.countLines("connection broken"), 0);
}

TEST(ControlProgram, PortInUseEndsWithOneLineAndStatusOne)
{
    // Held as a server holds it: SO_REUSEADDR, so that connections of
    // earlier tests still in TIME_WAIT do not keep us from holding it.
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    const int on = 1;
    setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(8888);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0) << std::strerror(errno);
    ASSERT_EQ(listen(holder, 4), 0);

    ChildProcess program(binary);
    ASSERT_TRUE(program.waitForExit(10s));
    ASSERT_TRUE(WIFEXITED(program.status())) << "ended by signal " << WTERMSIG(program.status());
    EXPECT_EQ(WEXITSTATUS(program.status()), 1);
    const auto errors = program.lines(ChildProcess::Stream::Err);
    EXPECT_EQ(std::count_if(errors.begin(), errors.end(),
                            [](const std::string& l) { return l.rfind("veldrane:", 0) == 0; }),
              1);
    EXPECT_EQ(program.countLines("veldrane: cannot listen on TCP port 8888"), 1);
    EXPECT_EQ(program.countLines("lytter på port 8888"), 0);
    ::close(holder);
}

TEST(ControlProgram, NoWakeUpDescriptorIsReportedAsSuchNotAsThePortInUse)
{
    // The command server makes its eventfds before its listening socket, so
    // the lowest descriptor limit at which the program gets as far as the
    // command server leaves an eventfd without one. What the loader and a
    // sanitizer's runtime open before that differs from build to build, so
    // the limit is found by trying from what the child inherits upwards.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime needs descriptors of its own at every check, and reports "
                    "false errors without them";
#endif
    ASSERT_TRUE(TestHelpers::portFree(8888, false));
    const int inherited = firstFreeInChild();
    bool reached = false;
    for (int limit = inherited + 1; limit <= inherited + 32 && !reached; ++limit) {
        ChildProcess program("/usr/bin/prlimit", {"--nofile=" + std::to_string(limit), binary});
        ASSERT_TRUE(program.waitForExit(10s)) << "limit " << limit;
        reached = program.countLines("veldrane:") > 0;
        if (!reached)
            continue; // it did not get as far as the command server
        ASSERT_TRUE(WIFEXITED(program.status())) << "ended by signal " << WTERMSIG(program.status());
        EXPECT_EQ(WEXITSTATUS(program.status()), 1);
        EXPECT_EQ(program.countLines("Wakeup: eventfd: Too many open files"), 1);
        EXPECT_EQ(program.countLines("veldrane: cannot make its wake-up descriptor"), 1);
        EXPECT_EQ(program.countLines("cannot listen on TCP port"), 0);
        EXPECT_EQ(program.countLines("lytter på port 8888"), 0);
    }
    EXPECT_TRUE(reached);
}

TEST(ControlProgram, AControllerFindingNoDescriptorLeftIsRefusedAndTheNextServed)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime needs descriptors of its own, and fails without them";
#endif
    ChildProcess program(binary);
    ASSERT_TRUE(program.waitForStdout("lytter på port 8888", 10s));
    // The accepted socket takes the last descriptor, its wake-up finds none.
    // Set until the program's lowest free descriptor holds still: one it
    // opened for a moment while starting would take the socket's.
    rlimit old{};
    ASSERT_EQ(prlimit(program.pid(), RLIMIT_NOFILE, nullptr, &old), 0);
    for (int free = -1, tries = 0; tries < 10 && free != lowestFree(program.pid()); ++tries) {
        free = lowestFree(program.pid());
        const rlimit tight{static_cast<rlim_t>(free + 1), old.rlim_max};
        ASSERT_EQ(prlimit(program.pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
    }
    TcpClient refused;
    ASSERT_TRUE(refused.connect(8888, 5s));
    EXPECT_TRUE(
        program.waitForStderr("ServerCmd: a controller was refused: no descriptor left to serve it", 5s));
    ASSERT_EQ(prlimit(program.pid(), RLIMIT_NOFILE, &old, nullptr), 0);
    TcpClient next;
    connectServed(program, next);
}

} // namespace
