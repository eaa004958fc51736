// locks: sink
// The output on a sound server that freezes or dies: a daemon of the
// test's own (SoundServer), so that the shared null sink plays on.
#include "wrappers/audioio.h"
#include "wrappers/output_closer.h"

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

// Triggers until the output gives up on its frozen server; whether it did
// within `most` triggers.
bool givesUp(AudioIO& output, int most = 50)
{
    try {
        play(output, most);
    } catch (const Utils::AudioTriggerError&) {
        return true;
    }
    return false;
}

// An output of small buffers (a short stall limit) that has played.
std::unique_ptr<AudioIO> playingOutput()
{
    auto output = std::make_unique<AudioIO>(2048);
    output->init(2, 0);
    play(*output, 2);
    return output;
}

bool opens()
{
    try {
        AudioIO output;
        output.init(2, 0);
    } catch (const Utils::AudioInitError&) {
        return false;
    }
    return true;
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
    EXPECT_TRUE(TestHelpers::waitFor([] { return Wrappers::OutputCloser::alive() == 0; }, 10s));
}

TEST(AudioIOServerFaults, OutputsLeftToCloseAreBoundedAndTheNextOpensOnceOneHasClosed)
{
    auto frozen = std::make_unique<TestHelpers::SoundServer>();
    ASSERT_TRUE(frozen->running());
    std::vector<std::unique_ptr<AudioIO>> outputs;
    for (int i = 0; i < Wrappers::OutputCloser::most; ++i)
        outputs.push_back(playingOutput());
    frozen->freeze();
    testing::internal::CaptureStderr();
    for (auto& output : outputs) {
        EXPECT_TRUE(givesUp(*output));
        output.reset(); // its closer waits for the frozen server
    }
    {
        // A server that answers: the output could open on it, but a closer
        // more would pass the bound.
        TestHelpers::SoundServer other;
        ASSERT_TRUE(other.running());
        EXPECT_FALSE(opens());
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("outputs given up on still wait for the sound server"), std::string::npos)
            << said;
        frozen->thaw();
        EXPECT_TRUE(TestHelpers::waitFor(opens, 10s));
    }
    EXPECT_TRUE(TestHelpers::waitFor([] { return Wrappers::OutputCloser::alive() == 0; }, 10s));
}

TEST(AudioIOServerFaults, AFailureOfAnOutputGivenUpOnIsNotChargedToTheNextOne)
{
    auto first = std::make_unique<TestHelpers::SoundServer>();
    ASSERT_TRUE(first->running());
    std::unique_ptr<AudioIO> abandoned = playingOutput();
    first->freeze();
    EXPECT_TRUE(givesUp(*abandoned));
    abandoned.reset(); // its closer waits for the frozen server
    TestHelpers::SoundServer second;
    ASSERT_TRUE(second.running());
    const std::unique_ptr<AudioIO> output = playingOutput();
    // The first server dies: the abandoned output's device thread reports
    // its failed write, and its closer finishes.
    first->kill();
    ASSERT_TRUE(TestHelpers::waitFor([] { return Wrappers::OutputCloser::alive() == 0; }, 10s));
    EXPECT_NO_THROW(play(*output, 4));
}
