// locks: ports sink
#include "test_helpers/child_process.h"
#include "test_helpers/media_files.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/sink_recorder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;

TEST(SendAnyAudio, Mp3FlacAndM4aPlayAsTheirOwnDecodeSounds)
{
    ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane.waitForStdout("lytter på port 8888", 10s));
    for (const char* extension : {"mp3", "flac", "m4a"}) {
        const TestHelpers::MediaFile file(extension, 2.0);
        const std::vector<float> reference = file.decode();
        TestHelpers::SinkRecorder recorder;
        recorder.start();
        ChildProcess sender(VELDRANE_BINARY_DIR "/tools/veldrane-send",
                            {"--quiet", "127.0.0.1", file.path()});
        ASSERT_TRUE(sender.waitForExit(30s)) << extension;
        EXPECT_TRUE(WIFEXITED(sender.status()) && WEXITSTATUS(sender.status()) == 0) << extension;
        EXPECT_TRUE(recorder.waitForSound(reference.size() / 2, 2s)) << extension;
        recorder.stop();
        // Encoded again to Vorbis, the sound is near the file's own decode,
        // not equal to it.
        TestHelpers::CompareOptions options;
        options.tolerance = 1.0f;
        options.searchRadius = 2048;
        const TestHelpers::Comparison c =
            TestHelpers::compareWithReference(recorder.samples(), reference, options);
        EXPECT_TRUE(c.found) << extension << ": " << c.describe();
        EXPECT_EQ(c.framesCompared, c.referenceFrames) << extension << ": " << c.describe();
        EXPECT_GE(c.snrDb, 20.0) << extension << ": " << c.describe();
    }
    EXPECT_EQ(veldrane.countLines("initTransmissionFailed"), 0);
}
