#include "audio/handover.h"

#include "test_helpers/playing_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <vector>

using Audio::Handover;
using TestHelpers::PlayingDevice;
using namespace std::chrono_literals;

namespace {

Handover::Clock::time_point in(std::chrono::milliseconds ms)
{
    return Handover::Clock::now() + ms;
}

// Hands `value` over on a thread of its own, as the filler would. After
// the first hand-over, `swapped` (when given) is told once the buffer is
// the device's, before the hand-over waits for the device's request.
std::future<bool> handOverLater(Handover& handover, float value, std::promise<void>* swapped = nullptr)
{
    return std::async(std::launch::async, [&handover, value, swapped] {
        PlayingDevice::fill(handover, value);
        const Audio::Sink::Meanwhile tell = [swapped](Handover::Clock::time_point) { swapped->set_value(); };
        return handover.handOver(in(10s), swapped ? tell : Audio::Sink::Meanwhile());
    });
}

bool ready(std::future<bool>& f, std::chrono::milliseconds timeout = 5s)
{
    return f.wait_for(timeout) == std::future_status::ready;
}

} // namespace

TEST(Handover, ALateRefillIsSilenceAndTheNextBufferWaitsQueued)
{
    constexpr unsigned int frames = 64;
    Handover handover(frames);
    handover.setRunning(true);
    PlayingDevice device(handover);
    std::future<bool> first = handOverLater(handover, 1.0f);
    ASSERT_TRUE(device.stepUntilPlayed(1.0f, 5s));
    ASSERT_TRUE(ready(first));
    std::promise<void> swapped;
    std::future<bool> second = handOverLater(handover, 2.0f, &swapped);
    ASSERT_EQ(swapped.get_future().wait_for(5s), std::future_status::ready);
    device.step();
    ASSERT_TRUE(ready(second));
    EXPECT_TRUE(first.get() && second.get());
    // Buffer 3 comes late: the device asks twice meanwhile.
    ASSERT_TRUE(device.waitForSteps(5s));
    const int start = device.returned() - 2;
    device.step();
    device.step();
    ASSERT_TRUE(device.waitForReturned(start + 4, 5s));
    // The device has asked already, so the hand-over does not wait; it is
    // queued for the next request.
    PlayingDevice::fill(handover, 3.0f);
    EXPECT_TRUE(handover.handOver(in(5s), {}));
    EXPECT_EQ(device.played(), (std::vector<float>{1, 2, 0, 0}));
    // Buffer 4 waits until the device has copied buffer 3.
    std::future<bool> fourth = handOverLater(handover, 4.0f);
    device.step();
    ASSERT_TRUE(ready(fourth));
    device.step();
    ASSERT_TRUE(device.waitForReturned(start + 6, 5s));
    EXPECT_EQ(device.played(), (std::vector<float>{1, 2, 0, 0, 3, 4}));
    // The silence before the first buffer is the stream's start, not a gap.
    const Audio::Sink::DeviceClock clock = handover.deviceClock();
    EXPECT_EQ(clock.frames, device.returned() * frames);
    EXPECT_EQ(clock.starvedFrames, 2 * frames);
    handover.setRunning(false);
}

TEST(Handover, AStopEndsAHeldRequestAndTheFillersWaitAtOnce)
{
    // A ten-second buffer: once the device's queue is full (a request made
    // after a pause), the pacer holds each request for almost that long.
    Handover handover(441000);
    handover.pace(true);
    handover.setRunning(true);
    PlayingDevice device(handover);
    device.step();
    ASSERT_TRUE(device.waitForReturned(1, 5s));
    std::future<bool> handedOver = handOverLater(handover, 1.0f);
    device.step(5ms);
    ASSERT_TRUE(device.waitForStarted(2, 5s));
    handover.setRunning(false);
    EXPECT_TRUE(device.waitForReturned(2, 2s)) << "the held request did not end with the stop";
    ASSERT_TRUE(ready(handedOver, 2s)) << "the filler's wait did not end with the stop";
    EXPECT_TRUE(handedOver.get());
}

TEST(Handover, TheDrainReturnsOnceTheLastBufferHandedOverHasBeenCopied)
{
    Handover handover(64);
    handover.setRunning(true);
    PlayingDevice device(handover, 1ms);
    for (const float value : {1.0f, 2.0f, 3.0f}) {
        PlayingDevice::fill(handover, value);
        ASSERT_TRUE(handover.handOver(in(5s), {}));
    }
    // The last buffer comes late: it is queued, maybe not yet copied, when
    // the drain starts.
    ASSERT_TRUE(device.waitForReturned(device.returned() + 1, 5s));
    PlayingDevice::fill(handover, 4.0f);
    ASSERT_TRUE(handover.handOver(in(5s), {}));
    ASSERT_TRUE(handover.drain(in(5s)));
    std::vector<float> played = device.played();
    played.erase(std::remove(played.begin(), played.end(), 0.0f), played.end());
    EXPECT_EQ(played, (std::vector<float>{1, 2, 3, 4}));
}

TEST(Handover, ADrainGivesUpAtItsDeadlineWhenTheDeviceStopsAsking)
{
    Handover handover(64);
    handover.setRunning(true);
    PlayingDevice device(handover);
    std::future<bool> first = handOverLater(handover, 1.0f);
    ASSERT_TRUE(device.stepUntilPlayed(1.0f, 5s));
    ASSERT_TRUE(ready(first));
    // A late buffer is queued, and the device asks no more.
    const int start = device.returned();
    device.step();
    ASSERT_TRUE(device.waitForReturned(start + 1, 5s));
    PlayingDevice::fill(handover, 2.0f);
    ASSERT_TRUE(handover.handOver(in(5s), {}));
    std::future<bool> drained =
        std::async(std::launch::async, [&handover] { return handover.drain(in(100ms)); });
    ASSERT_TRUE(ready(drained)) << "the drain waited past its deadline";
    EXPECT_FALSE(drained.get());
    EXPECT_EQ(device.played(), (std::vector<float>{1, 0}));
}
