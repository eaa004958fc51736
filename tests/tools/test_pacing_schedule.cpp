#include "send/pacing_schedule.h"

#include <gtest/gtest.h>

using Send::OggPage;
using Send::PacingSchedule;

namespace {

OggPage bosPage(uint32_t serial, long rate)
{
    OggPage p;
    p.bos = true;
    p.serial = serial;
    p.sampleRate = rate;
    p.granule = 0;
    return p;
}

OggPage audioPage(uint32_t serial, int64_t granule)
{
    OggPage p;
    p.serial = serial;
    p.granule = granule;
    return p;
}

} // namespace

TEST(PacingSchedule, APageIsDueWhenPlayingReachesThePreviousGranuleLessTheLead)
{
    PacingSchedule s(0.5);
    EXPECT_DOUBLE_EQ(s.due(bosPage(1, 1000)), 0.0);
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, 0)), 0.0);    // comment/setup headers
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, 1000)), 0.0); // first audio: at once
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, 2000)), 0.5); // plays from 1 s
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, -1)), 1.5);   // no granule: like the one before
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, 3000)), 1.5);
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, 3500)), 2.5);
    EXPECT_DOUBLE_EQ(s.playEnd(), 3.5);

    PacingSchedule noLead(0);
    noLead.due(bosPage(1, 1000));
    noLead.due(audioPage(1, 1000));
    EXPECT_DOUBLE_EQ(noLead.due(audioPage(1, 2000)), 1.0);
}

TEST(PacingSchedule, AChainContinuesAtTheEndOfThePreviousLink)
{
    PacingSchedule s(0.25);
    s.due(bosPage(1, 44100));
    s.due(audioPage(1, 44100));
    s.due(audioPage(1, 88200)); // link 1 ends at 2 s
    // Link 2 at another rate; its granules restart.
    EXPECT_DOUBLE_EQ(s.due(bosPage(2, 8000)), 1.75);
    EXPECT_DOUBLE_EQ(s.due(audioPage(2, 4000)), 1.75);
    EXPECT_DOUBLE_EQ(s.due(audioPage(2, 8000)), 2.25);
    EXPECT_DOUBLE_EQ(s.playEnd(), 3.0);
    // The same serial again (a file sent twice): still a new link.
    EXPECT_DOUBLE_EQ(s.due(bosPage(2, 8000)), 2.75);
    EXPECT_DOUBLE_EQ(s.due(audioPage(2, 16000)), 2.75);
    EXPECT_DOUBLE_EQ(s.playEnd(), 5.0);
}

TEST(PacingSchedule, TruncatedForeignAndBackwardPagesNeverMoveTheClock)
{
    PacingSchedule s(0);
    s.due(bosPage(1, 1000));
    s.due(audioPage(1, 2000));
    EXPECT_DOUBLE_EQ(s.due(audioPage(9, 900000)), 2.0); // another logical stream
    OggPage cut = audioPage(1, 900000);
    cut.truncated = true;
    EXPECT_DOUBLE_EQ(s.due(cut), 2.0);
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, 500)), 2.0); // granule going back
    EXPECT_DOUBLE_EQ(s.due(audioPage(1, 3000)), 2.0);
    EXPECT_DOUBLE_EQ(s.playEnd(), 3.0);

    // A non-Vorbis BOS page starts no link; before any Vorbis BOS nothing
    // waits.
    PacingSchedule t(0);
    OggPage other = bosPage(5, 0);
    EXPECT_DOUBLE_EQ(t.due(other), 0.0);
    EXPECT_DOUBLE_EQ(t.due(audioPage(5, 123456)), 0.0);
    EXPECT_DOUBLE_EQ(t.playEnd(), 0.0);

    s.reset();
    EXPECT_DOUBLE_EQ(s.playEnd(), 0.0);
    EXPECT_DOUBLE_EQ(s.due(bosPage(1, 1000)), 0.0);
}
