// locks: ports sink
#include "test_helpers/child_process.h"
#include "test_helpers/lossy_network.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/temp_file.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;

namespace {

bool lossy = false;

class OverALossyNetwork : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() { lossy = TestHelpers::enterLossyNetwork(); }
};

// Our sender to one receiver through a network that loses what the rule
// drops: every frame is heard, and the receiver's line says what it rebuilt.
TEST_P(OverALossyNetwork, OurSendersRepairDataLetsTheReceiverPlayEveryFrame)
{
    if (!lossy)
        GTEST_SKIP() << "a network of its own needs root and nftables";
    ASSERT_TRUE(TestHelpers::dropDatagrams(GetParam()));
    // Dense enough that each rule loses datagrams many times over.
    const TestHelpers::Bytes stream = TestHelpers::encodeOgg(TestHelpers::musicLike(16));
    const TestHelpers::TempFile file(stream);

    ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane.waitForStdout("lytter på port 8888", 10s));
    TestHelpers::SinkRecorder recorder;
    recorder.start();
    ChildProcess sender(VELDRANE_BINARY_DIR "/tools/veldrane-send", {"127.0.0.1", file.path()});
    ASSERT_TRUE(sender.waitForExit(60s));
    EXPECT_EQ(WEXITSTATUS(sender.status()), 0);
    ASSERT_TRUE(veldrane.waitForStderr("AudioReceiver: played", 10s));
    recorder.stop();

    TestHelpers::expectPlayedWhole(recorder.samples(), TestHelpers::referenceDecode(stream));
    EXPECT_EQ(veldrane.countLines(" 0 gaps, 0 ms of silence"), 1);
    EXPECT_EQ(veldrane.countLines("; 0 pages lost or refused, 0 rebuilt;"), 0) << "nothing was lost";
    EXPECT_EQ(veldrane.countLines("; 0 pages lost or refused,"), 1);
}

INSTANTIATE_TEST_SUITE_P(Loss, OverALossyNetwork,
                         ::testing::Values("numgen random mod 100 < 5", "numgen inc mod 60 < 3"),
                         [](const auto& rule) {
                             return rule.index == 0 ? "FivePercentAtRandom" : "BurstsOfThree";
                         });

} // namespace
