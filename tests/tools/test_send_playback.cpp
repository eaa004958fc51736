// locks: ports sink
#include "test_helpers/child_process.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/temp_file.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;

TEST(SendPlayback, PlaysAGeneratedStreamThroughTheReceiverWithoutGapOrUnderrun)
{
    TestHelpers::OggParams params;
    params.seconds = 16;
    const TestHelpers::Bytes stream = TestHelpers::encodeOgg(params);
    const std::vector<float> reference = TestHelpers::referenceDecode(stream);
    const TestHelpers::TempFile file(stream);

    ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane.waitForStdout("lytter på port 8888", 10s));
    TestHelpers::SinkRecorder recorder;
    recorder.start();

    ChildProcess sender(VELDRANE_BINARY_DIR "/tools/veldrane-send", {"127.0.0.1", file.path()});
    bool ended = sender.waitForExit(40s);
    ASSERT_TRUE(ended) << "veldrane-send did not finish";
    ASSERT_TRUE(WIFEXITED(sender.status()));
    EXPECT_EQ(WEXITSTATUS(sender.status()), 0);
    for (const std::string& line : sender.lines(ChildProcess::Stream::Err))
        ADD_FAILURE() << "veldrane-send: " << line;

    // The sender stays connected until the lead and the receiver's latency
    // have played out, so all the sound is there by the time it ends; a
    // buffer's length more shows what follows it.
    EXPECT_TRUE(recorder.waitForSound(reference.size() / 2 + TestHelpers::receiverBufferFrames, 2s));
    recorder.stop();
    TestHelpers::expectPlayedWhole(recorder.samples(), reference);

    EXPECT_EQ(veldrane.countLines("UNDERRUN"), 0);
    EXPECT_EQ(veldrane.countLines("starter dekoding"), 1);
    EXPECT_EQ(veldrane.countLines("initTransmissionFailed"), 0);
    EXPECT_TRUE(veldrane.waitForStdout("dekoding stoppet", 5s));
}
