#include "test_helpers/child_process.h"
#include "test_helpers/fake_receiver.h"
#include "test_helpers/media_files.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/temp_file.h"
#include "test_helpers/wait.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

using TestHelpers::Bytes;
using TestHelpers::ChildProcess;
using TestHelpers::FakeReceiver;
using TestHelpers::TempFile;

namespace {

const std::string sender = VELDRANE_BINARY_DIR "/tools/veldrane-send";

Bytes oneSecond()
{
    TestHelpers::OggParams params;
    params.seconds = 1.0;
    return TestHelpers::encodeOgg(params);
}

// Runs the sender to its end; returns its exit code (-1 if it hung).
int runSender(const std::vector<std::string>& args, std::vector<std::string>* errLines = nullptr,
              std::vector<std::string>* outLines = nullptr)
{
    ChildProcess child(sender, args);
    if (!child.waitForExit(std::chrono::seconds(60)))
        return -1;
    if (errLines)
        *errLines = child.lines(ChildProcess::Stream::Err);
    if (outLines)
        *outLines = child.lines(ChildProcess::Stream::Out);
    int status = child.status();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The statuses listed under "Exit status:" in --help.
std::set<int> helpStatuses(const std::vector<std::string>& help)
{
    std::set<int> statuses;
    bool in = false;
    for (const std::string& line : help) {
        in = in || line == "Exit status:";
        if (in && line.size() > 3 && line[0] == ' ' && line[1] == ' ' && std::isdigit(line[2]))
            statuses.insert(std::atoi(line.c_str()));
    }
    return statuses;
}

// The statuses the manual page's EXIT STATUS section lists.
std::set<int> pageStatuses()
{
    std::ifstream in(VELDRANE_BINARY_DIR "/packaging/veldrane-send.1");
    std::set<int> statuses;
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0)
            inSection = line == ".SH EXIT STATUS";
        if (inSection && line.rfind(".B ", 0) == 0 && std::isdigit(static_cast<unsigned char>(line[3])))
            statuses.insert(std::atoi(line.c_str() + 3));
    }
    return statuses;
}

bool anyContains(const std::vector<std::string>& lines, const std::string& text)
{
    for (const std::string& l : lines)
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

// The sender's exit status when bash runs `command` (with SENDER in it).
int viaShell(const std::string& command)
{
    ChildProcess child("/bin/bash", {"-c", "SENDER='" + sender + "'; " + command});
    return child.waitForExit(std::chrono::seconds(60)) && WIFEXITED(child.status())
               ? WEXITSTATUS(child.status())
               : -1;
}

} // namespace

TEST(SendExitCodes, HelpDocumentsEveryOptionAndBadUsageExitsTwo)
{
    std::vector<std::string> out;
    EXPECT_EQ(runSender({"--help"}, nullptr, &out), 0);
    for (const char* option : {"--host", "--port", "--lead", "--loop", "--timeout", "--quiet", "--capture",
                               "--sink", "--quality", "--help"})
        EXPECT_TRUE(anyContains(out, option)) << option;
    EXPECT_EQ(helpStatuses(out), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(pageStatuses(), helpStatuses(out));

    std::vector<std::string> err;
    EXPECT_EQ(runSender({}, &err), 2);
    EXPECT_TRUE(anyContains(err, "--help"));
    EXPECT_EQ(runSender({"--frobnicate", "localhost", "x.ogg"}), 2);
    EXPECT_EQ(runSender({"--port", "0", "localhost", "x.ogg"}), 2);
    EXPECT_EQ(runSender({"--lead", "abc", "localhost", "x.ogg"}), 2);
    EXPECT_EQ(runSender({"localhost"}), 2);
}

TEST(SendExitCodes, AProcessSubstitutionOfAnotherFormatIsDecodedFromItsFirstByte)
{
    TestHelpers::MediaFile flac("flac", 1.0);
    FakeReceiver receiver(FakeReceiver::Options{});
    EXPECT_EQ(viaShell("$SENDER --port " + std::to_string(receiver.tcpPort()) + " 127.0.0.1 <(cat '"
                       + flac.path() + "')"),
              0);
}

TEST(SendExitCodes, AFileNamedLikeAUrlIsOpenedAsTheFile)
{
    TestHelpers::MediaFile wav("wav", 0.5);
    FakeReceiver receiver(FakeReceiver::Options{});
    EXPECT_EQ(viaShell("d=$(mktemp -d) && cp '" + wav.path()
                       + "' \"$d/pipe:0.wav\" && cd \"$d\" && $SENDER --port "
                       + std::to_string(receiver.tcpPort())
                       + " 127.0.0.1 pipe:0.wav; r=$?; rm -rf \"$d\"; exit $r"),
              0);
}

TEST(SendExitCodes, ADeviceWhoseProcessCannotStartExitsNineNotSeven)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime needs descriptors of its own, and fails without them";
#endif
    // Descriptors 0 to 2, and 3 for the loader: none for the helper's pipes.
    EXPECT_EQ(
        viaShell("for fd in $(ls /proc/$$/fd); do [ $fd -gt 2 ] && eval \"exec $fd>&-\"; done 2>/dev/null; "
                 "prlimit --nofile=4 $SENDER --sink veldrane_send_no_fd 127.0.0.1"),
        9);
}

TEST(SendExitCodes, EachInputThatCannotBeSentHasItsMessageAndStatus)
{
    // Checked before connecting: nothing listens on the port given.
    const std::string port = std::to_string(TestHelpers::freePort());
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    TempFile garbage(TestHelpers::garbageBytes(10000));
    TempFile empty(Bytes{});
    Bytes cut = oneSecond();
    cut.resize(20); // not even the first page
    TempFile shortFile(cut);
    const std::vector<Case> cases = {
        {{garbage.path()}, 4, "holds no audio that can be decoded"},
        {{empty.path()}, 4, "holds no audio that can be decoded"},
        {{shortFile.path()}, 4, "holds no audio that can be decoded"},
        {{"-"}, 4, "is not an Ogg Vorbis stream"}, // standard input is /dev/null here
        {{"/nonexistent/file.mp3"}, 7, "cannot open"},
        {{"/tmp"}, 7, "cannot read"},
        {{"--capture", "veldrane_no_such_source"}, 9, "has no source veldrane_no_such_source"},
        {{"--sink", TestHelpers::SinkRecorder::sinkName()}, 9, "exists already"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--port", port, "--host", "127.0.0.1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<std::string> err;
        EXPECT_EQ(runSender(args, &err), c.status) << c.args.back();
        ASSERT_EQ(err.size(), 1u) << c.args.back();
        EXPECT_TRUE(anyContains(err, c.message)) << err[0];
    }
    const char* previous = std::getenv("PULSE_SERVER");
    const std::string saved = previous ? previous : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/veldrane-pulse", 1);
    for (const char* live : {"--capture", "--sink=veldrane_send_test"}) {
        std::vector<std::string> err;
        EXPECT_EQ(runSender({"--port", port, live, "127.0.0.1"}, &err), 8) << live;
        EXPECT_TRUE(anyContains(err, "cannot reach the sound server")) << live;
    }
    if (previous)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}

TEST(SendExitCodes, NoReceiverExitsThree)
{
    TempFile file(oneSecond());
    std::vector<std::string> err;
    EXPECT_EQ(runSender({"--port", std::to_string(TestHelpers::freePort()), "127.0.0.1", file.path()}, &err),
              3);
    EXPECT_TRUE(anyContains(err, "no receiver"));

    FakeReceiver::Options o;
    o.announce = false;
    FakeReceiver silent(o);
    EXPECT_EQ(runSender({"--timeout", "0.5", "--port", std::to_string(silent.tcpPort()), "--host",
                         "127.0.0.1", file.path()},
                        &err),
              3);
    EXPECT_TRUE(anyContains(err, "udpReady"));
}

TEST(SendExitCodes, ReceiverThatGivesUpExitsFive)
{
    TempFile file(oneSecond());
    FakeReceiver::Options o;
    o.failFirst = 5;
    FakeReceiver receiver(o);
    std::vector<std::string> err;
    EXPECT_EQ(runSender({"--port", std::to_string(receiver.tcpPort()), "127.0.0.1", file.path()}, &err), 5);
    EXPECT_TRUE(anyContains(err, "gave up"));
    EXPECT_EQ(receiver.attempts().size(), 5u);
}

TEST(SendExitCodes, LostConnectionExitsSix)
{
    TempFile file(oneSecond());
    FakeReceiver::Options o;
    o.closeAfterBytes = 1;
    FakeReceiver receiver(o);
    std::vector<std::string> err;
    EXPECT_EQ(runSender({"--port", std::to_string(receiver.tcpPort()), "127.0.0.1", file.path()}, &err), 6);
    EXPECT_TRUE(anyContains(err, "lost"));
}

TEST(SendExitCodes, StandardInputIsSentAgainAfterAFailureAndEndsWithZero)
{
    Bytes stream = oneSecond();
    TempFile file(stream);
    FakeReceiver::Options o;
    o.failFirst = 1;
    FakeReceiver receiver(o);
    // Through a pipe, so that the second attempt must come from the bytes
    // the sender kept.
    ChildProcess child("/bin/sh", {"-c", "cat '" + file.path() + "' | '" + sender + "' --lead 0.5 --port "
                                             + std::to_string(receiver.tcpPort()) + " 127.0.0.1 -"});
    ASSERT_TRUE(child.waitForExit(std::chrono::seconds(60)));
    int status = child.status();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<FakeReceiver::Attempt> attempts = receiver.attempts();
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(TestHelpers::referenceDecode(attempts[1].bytes), TestHelpers::referenceDecode(stream));
    // The receiver's thread sees the close a moment after the sender ends.
    EXPECT_TRUE(TestHelpers::waitFor([&] { return receiver.senderClosed(); }, std::chrono::seconds(5)));
}
