// locks: ports sink
#include "test_helpers/child_process.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/sink_recorder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;

namespace {

// The receiver hands whole output buffers of this many frames to the
// device; the partial one at the end of a stream is never played.
constexpr std::size_t bufferFrames = 8192;

std::vector<float> playedPart(std::vector<float> reference)
{
    reference.resize(reference.size() / 2 / bufferFrames * bufferFrames * 2);
    return reference;
}

} // namespace

TEST(SendPlayback, PlaysAGeneratedStreamThroughTheReceiverWithoutGapOrUnderrun)
{
    TestHelpers::OggParams params;
    params.seconds = 8;
    const TestHelpers::Bytes stream = TestHelpers::encodeOgg(params);
    const std::vector<float> reference = playedPart(TestHelpers::referenceDecode(stream));
    char name[] = "/tmp/veldrane-send-play-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    ::close(fd);
    const std::string path = name;

    ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane.waitForStdout("lytter på port 8888", 10s));
    TestHelpers::SinkRecorder recorder;
    recorder.start();

    ChildProcess sender(VELDRANE_BINARY_DIR "/tools/veldrane-send", {"127.0.0.1", path});
    bool ended = sender.waitForExit(40s);
    std::remove(path.c_str());
    ASSERT_TRUE(ended) << "veldrane-send did not finish";
    ASSERT_TRUE(WIFEXITED(sender.status()));
    EXPECT_EQ(WEXITSTATUS(sender.status()), 0);
    for (const std::string& line : sender.lines(ChildProcess::Stream::Err))
        ADD_FAILURE() << "veldrane-send: " << line;

    // The sender stays connected until the lead and the receiver's latency
    // have played out, so all the sound is there by the time it ends.
    EXPECT_TRUE(recorder.waitForSound(reference.size() / 2, 2s));
    recorder.stop();
    const TestHelpers::Comparison result = TestHelpers::compareWithReference(recorder.samples(), reference);
    EXPECT_TRUE(result.found) << result.describe();
    EXPECT_TRUE(result.contiguous) << result.describe();
    EXPECT_GE(result.snrDb, 90.0) << result.describe();

    EXPECT_EQ(veldrane.countLines("UNDERRUN"), 0);
    EXPECT_EQ(veldrane.countLines("starter dekoding"), 1);
    EXPECT_EQ(veldrane.countLines("initTransmissionFailed"), 0);
    EXPECT_TRUE(veldrane.waitForStdout("dekoding stoppet", 5s));
}
