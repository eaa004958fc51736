// Following the sender's clock in simulated time: ten minutes of stream
// from senders that pace, lose and stall the way real ones do.
#include "audio/clock_follower.h"
#include "audio/format.h"
#include "audio/sender_clock.h"
#include "test_helpers/simulated_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

using TestHelpers::SimulatedSender;

namespace {

constexpr double period = Audio::bufferSeconds;
constexpr double minutes = 10 * 60;

// Noisy senders take a minute or more to tell their clock apart.
constexpr double settledAfter = 120;

struct Followed {
    bool alwaysOne = true;
    double settledSpeed = 1.0;
    double drift = 0; // how far what waits moved, by the sender's clock, once settled
    int toldOutOfRange = 0;
};

using Clock = Audio::Sink::Clock;

Clock::time_point at(Clock::time_point start, double seconds)
{
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// A page of the simulated sender as it comes off the socket.
Audio::PageArrival page(const SimulatedSender::Arrival& a, Clock::time_point start)
{
    Audio::PageArrival p;
    p.known = true;
    p.serial = 1;
    p.start = a.mediaStart >= 0 ? std::llround(a.mediaStart * Audio::sampleRate) : -1;
    p.granule = std::llround(a.mediaEnd * Audio::sampleRate);
    p.taken = at(start, a.device);
    return p;
}

int countOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

// Plays the sender's arrivals buffer by buffer, as the decoder does, on a
// device that asks for a buffer every period by this machine's clock.
Followed follow(const SimulatedSender& sender)
{
    const auto arrivals = sender.arrivals(minutes);
    const Clock::time_point start = Clock::now();
    Audio::SenderClock clock;
    clock.reset(period, start);
    Followed out;
    std::size_t next = 0;
    double consumed = 0, settledLevel = 0;
    testing::internal::CaptureStderr();
    for (long k = 0; k * period < arrivals.back().device; ++k) {
        const double now = static_cast<double>(k) * period;
        for (; next < arrivals.size() && arrivals[next].device <= now; ++next)
            clock.arrived(page(arrivals[next], start), Audio::sampleRate);
        clock.deviceAsked({k * Audio::framesPerBuffer, 0, at(start, now)});
        const double speed = clock.follow();
        out.alwaysOne = out.alwaysOne && speed == 1.0;
        consumed += speed * period;
        // What the sender has sent by its own clock, less what was played.
        const double level = sender.rate * now - consumed;
        if (now < settledAfter)
            settledLevel = level;
        out.drift = level - settledLevel;
        out.settledSpeed = speed;
    }
    out.toldOutOfRange = countOf(testing::internal::GetCapturedStderr(), "the sender's clock differs");
    return out;
}

SimulatedSender sender(SimulatedSender::Pacing pacing, double rate = 1.0)
{
    SimulatedSender s;
    s.pacing = pacing;
    s.rate = rate;
    return s;
}

} // namespace

TEST(FollowingTheSender, OnTheDevicesClockThePaceIsExactlyOneWhateverThePacingAndTheNetwork)
{
    SimulatedSender lossy = sender(SimulatedSender::Pacing::AtEnd);
    lossy.loss = 0.05;
    SimulatedSender stalling = sender(SimulatedSender::Pacing::AtStart);
    stalling.stallAt = 200;
    stalling.stallSeconds = 2;
    const SimulatedSender cases[] = {
        sender(SimulatedSender::Pacing::AtStart),
        sender(SimulatedSender::Pacing::AtEnd),
        sender(SimulatedSender::Pacing::Bursts),
        lossy,
        stalling,
    };
    int i = 0;
    for (SimulatedSender s : cases) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            s.seed = seed;
            EXPECT_TRUE(follow(s).alwaysOne) << "case " << i << ", seed " << seed;
        }
        ++i;
    }
}

TEST(FollowingTheSender, ASenderOnAnotherClockIsFollowedAndWhatWaitsStaysWhereItWas)
{
    for (const double rate : {0.999, 1.001, 0.996, 1.004}) {
        for (const auto pacing : {SimulatedSender::Pacing::AtEnd, SimulatedSender::Pacing::Bursts}) {
            SimulatedSender s = sender(pacing, rate);
            s.loss = 0.05;
            const Followed f = follow(s);
            EXPECT_NEAR(f.settledSpeed, rate, 30e-6) << "rate " << rate;
            EXPECT_LT(std::fabs(f.drift), 0.030) << "rate " << rate << ", pacing " << int(pacing);
            EXPECT_EQ(f.toldOutOfRange, 0);
        }
    }
}

TEST(FollowingTheSender, ASenderBeyondTheRangeIsToldOnceAndPlayedAtItsEdge)
{
    const Followed f = follow(sender(SimulatedSender::Pacing::AtEnd, 0.992));
    EXPECT_EQ(f.toldOutOfRange, 1);
    EXPECT_DOUBLE_EQ(f.settledSpeed, 1.0 - Audio::ClockFollower::range);
}
