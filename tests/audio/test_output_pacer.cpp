#include "audio/output_pacer.h"

#include <gtest/gtest.h>

#include <chrono>

using Audio::OutputPacer;
using namespace std::chrono_literals;

namespace {

constexpr OutputPacer::Clock::duration period = 8192 * 1000000us / 44100;
constexpr OutputPacer::Clock::duration cadence = period - period / 32;

// The audio thread's loop as the library runs it: a callback, held as the
// pacer says (and woken `late` after that on a busy machine), then a write
// that takes `write`.
struct Loop {
    OutputPacer pacer{period};
    OutputPacer::Clock::time_point now{};

    // Returns how long the pacer said to hold the callback.
    OutputPacer::Clock::duration callback(OutputPacer::Clock::duration write,
                                          OutputPacer::Clock::duration late = 0us)
    {
        const OutputPacer::Clock::time_point until = pacer.holdUntil(now);
        const OutputPacer::Clock::duration held = until - now;
        now = until + late;
        pacer.returned(now);
        now += write;
        return held;
    }
};

} // namespace

TEST(OutputPacer, HoldsNothingUntilAWriteHasWaited)
{
    Loop loop;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(loop.callback(100us), 0us) << "callback " << i;
    // This write waits: the queue is full when it ends.
    EXPECT_EQ(loop.callback(30ms), 0us);
    EXPECT_EQ(loop.callback(100us), cadence);
}

TEST(OutputPacer, CallbacksComeAtACadenceALittleFasterThanTheDevice)
{
    Loop loop;
    loop.callback(100us);
    loop.callback(40ms);
    loop.callback(100us);
    for (int i = 0; i < 10; ++i) {
        const OutputPacer::Clock::time_point last = loop.now;
        loop.callback(100us);
        EXPECT_EQ(loop.now - last, cadence) << "callback " << i;
    }
}

TEST(OutputPacer, AWriteThatWaitedStartsTheCadenceAgainFromItsEnd)
{
    Loop loop;
    loop.callback(100us);
    loop.callback(40ms);
    loop.callback(100us);
    loop.callback(25ms); // the queue has filled up again
    const OutputPacer::Clock::time_point full = loop.now;
    loop.callback(100us);
    EXPECT_EQ(loop.now - 100us, full + cadence);
}

TEST(OutputPacer, LateCallbacksCatchUpWithoutShiftingTheCadence)
{
    Loop loop;
    loop.callback(100us);
    loop.callback(40ms);
    loop.callback(100us);
    // The machine is busy: this callback is woken 100 ms after it was due.
    loop.callback(100us, 100ms);
    // The next one is due a cadence after the missed moment, not after now.
    EXPECT_EQ(loop.callback(100us), cadence - 100ms - 100us);
    // One more than a cadence late: the next one is not held at all.
    loop.callback(100us, cadence + 1ms);
    EXPECT_EQ(loop.callback(100us), 0us);
}

TEST(OutputPacer, ShortPeriodsAndAStoppedPacerNeverHold)
{
    OutputPacer shortPeriod(2048 * 1000000us / 44100);
    OutputPacer off(OutputPacer::Clock::duration::zero());
    OutputPacer::Clock::time_point now{};
    for (OutputPacer* pacer : {&shortPeriod, &off}) {
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(pacer->holdUntil(now), now);
            pacer->returned(now);
            now += 30ms;
        }
    }
}

TEST(OutputPacer, RestartForgetsTheQueue)
{
    Loop loop;
    loop.callback(100us);
    loop.callback(40ms);
    EXPECT_GT(loop.callback(100us), 0us);
    loop.pacer.restart();
    loop.now += 40ms;
    EXPECT_EQ(loop.callback(100us), 0us);
    EXPECT_EQ(loop.callback(100us), 0us);
}
