// locks: ports sink
#include "test_helpers/child_process.h"
#include "test_helpers/played_whole.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/sound_server.h"
#include "test_helpers/wait.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;

namespace {

const char* const device = "veldrane_send_in";

bool deviceListed()
{
    const TestHelpers::Finished sinks = TestHelpers::runToEnd("/usr/bin/pactl", {"list", "short", "sinks"});
    for (const std::string& line : sinks.out)
        if (line.find(device) != std::string::npos)
            return true;
    return false;
}

// The share of the left channel's power at `hz`, from 0 to 1.
double powerShareAt(const std::vector<float>& interleaved, double hz)
{
    double re = 0, im = 0, total = 0;
    const size_t frames = interleaved.size() / 2;
    for (size_t i = 0; i < frames; ++i) {
        const double x = interleaved[2 * i];
        const double phase = 2 * M_PI * hz * static_cast<double>(i) / 44100.0;
        re += x * std::cos(phase);
        im += x * std::sin(phase);
        total += x * x;
    }
    return total > 0 ? 2 * (re * re + im * im) / (static_cast<double>(frames) * total) : 0;
}

} // namespace

TEST(SendLive, AToneIntoTheDeviceItMakesIsHeardFromTheReceiverAndTheDeviceEndsWithIt)
{
    const TestHelpers::SoundServer server;
    ChildProcess veldrane(VELDRANE_BINARY_DIR "/veldrane");
    ASSERT_TRUE(veldrane.waitForStdout("lytter på port 8888", 10s));
    TestHelpers::SinkRecorder recorder;
    recorder.start();

    ChildProcess sender(VELDRANE_BINARY_DIR "/tools/veldrane-send",
                        {"--quiet", "--sink", device, "127.0.0.1"});
    ASSERT_TRUE(TestHelpers::waitFor(deviceListed, 10s));
    ASSERT_TRUE(veldrane.waitForStdout("starter dekoding", 10s));
    ChildProcess tone("/bin/sh",
                      {"-c", std::string("exec /usr/bin/ffmpeg -hide_banner -loglevel error -re -f lavfi "
                                         "-i sine=frequency=1000:sample_rate=44100:duration=20 "
                                         "-ac 2 -f pulse -device ")
                                 + device + " veldrane-test-tone"});
    EXPECT_TRUE(recorder.waitForSound(44100, 15s));
    tone.terminate();
    recorder.stop();
    const std::vector<float> heard = TestHelpers::withoutSilence(recorder.samples());
    EXPECT_GT(powerShareAt(heard, 1000), 0.8);

    // However the sender ends, even killed, the device goes with it.
    kill(sender.pid(), SIGKILL);
    EXPECT_TRUE(TestHelpers::waitFor([] { return !deviceListed(); }, 5s));
}
