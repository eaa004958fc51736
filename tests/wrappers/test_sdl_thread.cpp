#include "test_helpers/wait.h"
#include "wrappers/sdl_mutex.h"
#include "wrappers/sdl_thread.h"
#include "wrappers/sdl_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Runs until asked to stop, or until told to finish by itself.
class Worker : public Wrappers::Thread {
public:
    ~Worker() { stopThread(); }

    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<bool> firstCheckSawStop{false};
    std::atomic<bool> finishNow{false};
    std::atomic<int> lingerMs{0};
    std::atomic<Clock::rep> returnedAt{0};

protected:
    void threadMain() override
    {
        firstCheckSawStop = checkStop();
        ++started;
        while (!checkStop() && !finishNow)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs.load()));
        returnedAt = Clock::now().time_since_epoch().count();
        ++finished;
    }
};

} // namespace

TEST(Thread, StopOfANeverStartedWorkerReturnsAtOnce)
{
    Worker w;
    auto t0 = Clock::now();
    // A stop that waited its 10 ms poll anyway would take a second for
    // these; a loaded machine does not come near that.
    for (int i = 0; i < 100; ++i)
        w.stopThread();
    EXPECT_LT(Clock::now() - t0, 500ms);
    EXPECT_EQ(w.started, 0);
}

TEST(Thread, StopWaitsForTheWorkerAndNeverReturnsSoonerThanTenMs)
{
    Worker w;
    w.startThread();
    ASSERT_TRUE(TestHelpers::waitFor([&] { return w.started == 1; }, 5s));
    w.lingerMs = 40; // the worker takes a while to wind down
    auto t0 = Clock::now();
    w.stopThread();
    auto t1 = Clock::now();
    EXPECT_EQ(w.finished, 1);
    EXPECT_GE(t1.time_since_epoch().count(), w.returnedAt.load());
    EXPECT_GE(t1 - t0, 40ms);

    w.lingerMs = 0;
    w.startThread();
    ASSERT_TRUE(TestHelpers::waitFor([&] { return w.started == 2; }, 5s));
    t0 = Clock::now();
    w.stopThread();
    EXPECT_GE(Clock::now() - t0, 10ms);
    EXPECT_EQ(w.finished, 2);
}

TEST(Thread, RestartAfterStopRunsAFreshWorkerWithoutAStaleStopRequest)
{
    Worker w;
    for (int run = 1; run <= 3; ++run) {
        w.startThread();
        ASSERT_TRUE(TestHelpers::waitFor([&] { return w.started == run; }, 5s));
        EXPECT_FALSE(w.firstCheckSawStop);
        w.stopThread();
        EXPECT_EQ(w.finished, run);
    }
}

TEST(Thread, SecondStartWhileRunningCreatesNoSecondWorker)
{
    Worker w;
    w.startThread();
    w.startThread();
    ASSERT_TRUE(TestHelpers::waitFor([&] { return w.started >= 1; }, 5s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(w.started, 1);
    w.stopThread();
    EXPECT_EQ(w.finished, 1);
}

TEST(Thread, StopOfASelfFinishedWorkerJoinsIt)
{
    Worker w;
    w.finishNow = true;
    w.startThread();
    ASSERT_TRUE(TestHelpers::waitFor([&] { return w.finished == 1; }, 5s));
    w.stopThread();

    // Finished and started again without a stop in between.
    w.startThread();
    ASSERT_TRUE(TestHelpers::waitFor([&] { return w.finished == 2; }, 5s));
    w.finishNow = false;
    w.startThread();
    ASSERT_TRUE(TestHelpers::waitFor([&] { return w.started == 3; }, 5s));
    EXPECT_FALSE(w.firstCheckSawStop);
    w.stopThread();
    EXPECT_EQ(w.finished, 3);
}

TEST(Thread, DestructionStopsARunningWorker)
{
    auto w = std::make_unique<Worker>();
    w->startThread();
    ASSERT_TRUE(TestHelpers::waitFor([&] { return w->started == 1; }, 5s));
    // A worker left running would touch the destroyed object (ASan, TSan).
    w.reset();
}

TEST(Mutex, ExcludesOtherThreads)
{
    Wrappers::Mutex m;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                Wrappers::MutexLock lock(m);
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(Timer, ClockAdvancesWithSleep)
{
    Wrappers::Timer timer;
    uint32_t t0 = timer.now();
    timer.sleep(30);
    uint32_t elapsed = timer.now() - t0;
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 1000u);
}
