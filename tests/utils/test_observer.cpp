#include "test_helpers/wait.h"
#include "utils/observer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records every delivery with the signal's name, the value and the thread
// it ran on.
struct Recorder {
    struct Call {
        std::string who;
        int value;
        std::thread::id thread;
    };
    std::vector<Call> calls;

    void onA(int v) { calls.push_back({"A", v, std::this_thread::get_id()}); }
    void onB(int v) { calls.push_back({"B", v, std::this_thread::get_id()}); }
    void onC(int v) { calls.push_back({"C", v, std::this_thread::get_id()}); }

    std::string trace() const
    {
        std::string s;
        for (const auto& c : calls)
            s += c.who + std::to_string(c.value) + " ";
        return s;
    }
};

} // namespace

TEST(Signal, EmissionOnlyQueuesAndRunDeliversInEmissionOrder)
{
    Utils::Signal a;
    Recorder r;
    a.connect(&r, &Recorder::onA);
    a(1);
    a(2);
    a(3);
    EXPECT_TRUE(r.calls.empty());
    Utils::Signal::run();
    EXPECT_EQ(r.trace(), "A1 A2 A3 ");
    Utils::Signal::run();
    EXPECT_EQ(r.calls.size(), 3u);
}

TEST(Signal, EachValueReachesEveryConnectionInConnectOrderBeforeTheNext)
{
    Utils::Signal a;
    Recorder r;
    a.connect(&r, &Recorder::onA);
    a.connect(&r, &Recorder::onB);
    a.connect(&r, &Recorder::onA); // twice: called twice
    a(1);
    a(2);
    Utils::Signal::run();
    EXPECT_EQ(r.trace(), "A1 B1 A1 A2 B2 A2 ");
}

TEST(Signal, SignalsAreDeliveredInConstructionOrderNotEmissionOrder)
{
    Utils::Signal a;
    Utils::Signal b;
    Recorder r;
    a.connect(&r, &Recorder::onA);
    b.connect(&r, &Recorder::onB);
    b(1);
    a(2);
    b(3);
    Utils::Signal::run();
    EXPECT_EQ(r.trace(), "A2 B1 B3 ");
}

TEST(Signal, EmissionsBeforeConnectAreDeliveredToLaterConnections)
{
    Utils::Signal a;
    a(7);
    Recorder r;
    a.connect(&r, &Recorder::onA);
    Utils::Signal::run();
    EXPECT_EQ(r.trace(), "A7 ");
}

TEST(Signal, EmissionsWithoutConnectionAreDrainedAndLost)
{
    Utils::Signal a;
    a(1);
    Utils::Signal::run();
    Recorder r;
    a.connect(&r, &Recorder::onA);
    Utils::Signal::run();
    EXPECT_TRUE(r.calls.empty());
}

TEST(Signal, DestroyedSignalLeavesTheRegistry)
{
    Recorder r;
    Utils::Signal kept;
    kept.connect(&r, &Recorder::onB);
    {
        auto gone = std::make_unique<Utils::Signal>();
        gone->connect(&r, &Recorder::onA);
        (*gone)(1);
    }
    kept(2);
    // A dangling registry entry would be dereferenced here.
    Utils::Signal::run();
    EXPECT_EQ(r.trace(), "B2 ");
}

TEST(Signal, EmissionsFromManyThreadsAreDeliveredOnTheRunningThreadOnly)
{
    Utils::Signal a;
    Utils::Signal b;
    Recorder r;
    a.connect(&r, &Recorder::onA);
    b.connect(&r, &Recorder::onB);

    constexpr int perThread = 500;
    std::vector<std::thread> emitters;
    for (int t = 0; t < 4; ++t)
        emitters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                (t % 2 ? b : a)(t * perThread + i);
        });
    // Deliver while the emitters run, as the main loop does.
    std::thread::id main = std::this_thread::get_id();
    for (int pass = 0; pass < 50; ++pass)
        Utils::Signal::run();
    for (auto& e : emitters)
        e.join();
    Utils::Signal::run();

    ASSERT_EQ(r.calls.size(), 4u * perThread);
    std::vector<int> last(4, -1);
    for (const auto& c : r.calls) {
        EXPECT_EQ(c.thread, main);
        int t = c.value / perThread;
        EXPECT_EQ(c.who, t % 2 ? "B" : "A");
        // Per signal, each emitter's values arrive in the order emitted.
        EXPECT_GT(c.value, last[t]);
        last[t] = c.value;
    }
}

TEST(Signal, HandlerMayEmitAnotherSignal)
{
    struct Chain {
        Utils::Signal* later;
        Utils::Signal* earlier;
        std::string trace;
        void onFirst(int v)
        {
            trace += "first" + std::to_string(v) + " ";
            (*later)(v + 1);
            (*earlier)(v + 2);
        }
        void onLater(int v) { trace += "later" + std::to_string(v) + " "; }
        void onEarlier(int v) { trace += "earlier" + std::to_string(v) + " "; }
    };
    Utils::Signal earlier;
    Utils::Signal first;
    Utils::Signal later;
    Chain c{&later, &earlier, ""};
    earlier.connect(&c, &Chain::onEarlier);
    first.connect(&c, &Chain::onFirst);
    later.connect(&c, &Chain::onLater);
    first(0);
    Utils::Signal::run();
    // A signal later in the registry is drained in the same pass; one that
    // the pass already drained waits for the next.
    EXPECT_EQ(c.trace, "first0 later1 ");
    Utils::Signal::run();
    EXPECT_EQ(c.trace, "first0 later1 earlier2 ");
}

TEST(Signal, EmissionNeverWaitsForAHandlerAndOnePerValueKeepsOne)
{
    // The main thread is held up in a handler (as when a run takes long to
    // stop) while a worker keeps raising the same signal.
    struct Slow {
        std::atomic<bool> entered{false};
        std::atomic<bool> release{false};
        std::atomic<int> calls{0};
        void onA(int)
        {
            ++calls;
            entered = true;
            // Held until the test lets go; bounded, so a failing test ends.
            TestHelpers::waitFor([this] { return release.load(); }, std::chrono::seconds(20));
        }
    };
    Utils::Signal a(Utils::Signal::Pending::OnePerValue);
    Slow slow;
    a.connect(&slow, &Slow::onA);
    a(0);
    std::thread deliverer([] { Utils::Signal::run(); });
    EXPECT_TRUE(TestHelpers::waitFor([&] { return slow.entered.load(); }, std::chrono::seconds(10)));

    std::atomic<bool> emitted{false};
    std::thread worker([&] {
        for (int i = 0; i < 100000; ++i)
            a(0);
        emitted = true;
    });
    const bool done = TestHelpers::waitFor([&] { return emitted.load(); }, std::chrono::seconds(10));
    slow.release = true;
    worker.join();
    deliverer.join();
    EXPECT_TRUE(done) << "an emission waited for the handler";

    Utils::Signal::run();
    EXPECT_EQ(slow.calls, 2);
}
