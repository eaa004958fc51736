// locks: sink
// The output on a sound server that freezes or dies: a daemon of the
// test's own (SoundServer), so that the shared null sink plays on.
#include "wrappers/audioio.h"

#include "test_helpers/sound_server.h"
#include "test_helpers/wait.h"
#include "utils/errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

using Wrappers::AudioIO;
using namespace std::chrono_literals;

namespace {

// Hands `buffers` buffers of silence to the output, each after the last
// has been taken.
void play(AudioIO& output, int buffers)
{
    for (int k = 0; k < buffers; ++k) {
        output.silence(0, output.bufSize());
        output.trigger();
    }
}

} // namespace

TEST(AudioIOServerFaults, DestroyingTheOutputRightAfterTheServerFreezesReturns)
{
    TestHelpers::SoundServer server;
    ASSERT_TRUE(server.running());
    auto output = std::make_unique<AudioIO>();
    output->init(2, 0);
    play(*output, 8);
    server.freeze();
    std::future<void> destroyed = std::async(std::launch::async, [&output] { output.reset(); });
    const bool returned = destroyed.wait_for(10s) == std::future_status::ready;
    // A destructor that waits for the server ends once it is thawed.
    server.thaw();
    destroyed.wait();
    EXPECT_TRUE(returned) << "the output's destruction waited for the frozen server";
    EXPECT_TRUE(server.waitUntilNoStreams(10s));
}
