#include "utils/clock_follower.h"

#include <gtest/gtest.h>

namespace {

constexpr double period = 8192.0 / 44100.0;

// Feeds the follower what a sender whose clock runs `offBy` away from the
// device's would leave waiting, given the speeds the follower chooses.
struct Sender {
    double offBy;
    double waiting = 0.5;

    double next(Utils::ClockFollower& follower)
    {
        waiting += (offBy - (follower.speed() - 1.0)) * period;
        return follower.observe(waiting);
    }
};

} // namespace

TEST(ClockFollower, ASenderOnTheDevicesClockIsPlayedAtExactlyOne)
{
    Utils::ClockFollower follower(period);
    Sender sender{0.0};
    for (int i = 0; i < 2000; ++i) {
        // Datagrams are seen a few milliseconds late, differently each time.
        sender.waiting = 0.5 + 0.004 * ((i * 7) % 5 - 2);
        ASSERT_EQ(sender.next(follower), 1.0) << "buffer " << i;
    }
    EXPECT_FALSE(follower.outOfRange());
}

TEST(ClockFollower, ASenderOutsideTheRangeIsToldOnceAndPlayedAtTheRangesEdge)
{
    Utils::ClockFollower follower(period);
    Sender sender{-0.008};
    int told = 0;
    for (int i = 0; i < 2000; ++i) {
        sender.next(follower);
        told += follower.outOfRange() ? 1 : 0;
    }
    EXPECT_EQ(told, 1);
    EXPECT_DOUBLE_EQ(follower.speed(), 1.0 - Utils::ClockFollower::range);
}
