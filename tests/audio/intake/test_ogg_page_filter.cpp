#include "audio/intake/ogg_page_filter.h"
#include "test_helpers/ogg_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using Audio::OggPageFilter;
using TestHelpers::Bytes;
using TestHelpers::pageHeader;

namespace {

constexpr unsigned char continued = 0x01;
constexpr unsigned char first = 0x02;
constexpr unsigned char last = 0x04;

bool accept(OggPageFilter& filter, const Bytes& header)
{
    return filter.accept(header.data(), header.size(), 0);
}

// A page that leaves 255 * 255 bytes of its packet open.
Bytes fullPage(uint32_t serial, unsigned char flags)
{
    return pageHeader(serial, flags, std::vector<unsigned char>(255, 255));
}

} // namespace

TEST(OggPageFilter, PagesOfTheLinksStreamsPassOthersAreDropped)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    EXPECT_TRUE(accept(filter, pageHeader(1, 0)));
    EXPECT_FALSE(accept(filter, pageHeader(2, 0))) << "a page of a stream the link did not begin with";
    EXPECT_TRUE(accept(filter, pageHeader(1, 0)));
    EXPECT_EQ(filter.dropped(), 1u);
}

TEST(OggPageFilter, ANewStreamsFirstPageStartsTheNextLink)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    ASSERT_TRUE(accept(filter, pageHeader(1, 0)));
    // No last page of stream 1 before it: an encoder that restarted.
    EXPECT_TRUE(accept(filter, pageHeader(2, first)));
    EXPECT_TRUE(accept(filter, pageHeader(2, 0)));
    EXPECT_FALSE(accept(filter, pageHeader(1, 0))) << "the old link's stream is over";
}

TEST(OggPageFilter, WhileTheLinkHasHadFirstPagesOnlyANewStreamJoinsIt)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    ASSERT_TRUE(accept(filter, pageHeader(2, first)));
    EXPECT_TRUE(accept(filter, pageHeader(1, 0)));
    EXPECT_TRUE(accept(filter, pageHeader(2, 0))) << "both streams belong to the one link";
}

TEST(OggPageFilter, AnOverlongPacketIsRefusedUpToAPageThatStartsAFreshPacket)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    const size_t fitting = OggPageFilter::maxPacketBytes / (255 * 255);
    ASSERT_TRUE(accept(filter, fullPage(1, 0)));
    for (size_t k = 1; k < fitting; ++k)
        ASSERT_TRUE(accept(filter, fullPage(1, continued))) << "page " << k << " is within the bound";
    EXPECT_FALSE(accept(filter, fullPage(1, continued))) << "the packet grew past the bound";
    // The rest of that packet, even a page that would end it.
    EXPECT_FALSE(accept(filter, fullPage(1, continued)));
    EXPECT_FALSE(accept(filter, pageHeader(1, continued, {255, 10})));
    EXPECT_TRUE(accept(filter, pageHeader(1, 0, {10})));
    EXPECT_TRUE(accept(filter, fullPage(1, continued))) << "a fresh packet is followed anew";
}

TEST(OggPageFilter, APacketThatEndsWithinTheBoundNeverCounts)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    // Each page ends its packet and leaves the next one open: many such
    // pages are never one overlong packet.
    std::vector<unsigned char> lacing(255, 255);
    lacing[0] = 10;
    for (int k = 0; k < 40; ++k)
        ASSERT_TRUE(accept(filter, pageHeader(1, continued, lacing))) << "page " << k;
}

TEST(OggPageFilter, TheLinkEndsWhenEveryStreamHasSentItsLastPage)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    ASSERT_TRUE(accept(filter, pageHeader(2, first)));
    EXPECT_FALSE(filter.linkEnded());
    ASSERT_TRUE(accept(filter, pageHeader(1, last)));
    ASSERT_TRUE(accept(filter, pageHeader(1, last))) << "a repeat of a last page";
    EXPECT_FALSE(filter.linkEnded()) << "stream 2 has not ended";
    ASSERT_TRUE(accept(filter, pageHeader(2, last)));
    EXPECT_TRUE(filter.linkEnded());
    // The next link may reuse a serial number.
    EXPECT_TRUE(accept(filter, pageHeader(1, first)));
    EXPECT_FALSE(filter.linkEnded());
}

TEST(OggPageFilter, ALinkFollowsABoundedNumberOfStreams)
{
    OggPageFilter filter;
    for (uint32_t serial = 1; serial <= OggPageFilter::maxStreams; ++serial)
        ASSERT_TRUE(accept(filter, pageHeader(serial, first)));
    EXPECT_FALSE(accept(filter, pageHeader(100, first)));
    EXPECT_FALSE(accept(filter, pageHeader(100, 0)));
    EXPECT_TRUE(accept(filter, pageHeader(OggPageFilter::maxStreams, 0)));
}

TEST(OggPageFilter, AHeaderShorterThanItsLacingIsDropped)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    const Bytes header = pageHeader(1, 0, {10, 10, 10});
    EXPECT_FALSE(filter.accept(header.data(), header.size() - 1, 0));
    EXPECT_FALSE(filter.accept(header.data(), 20, 0));
    EXPECT_EQ(filter.dropped(), 2u);
}

TEST(OggPageFilter, BeforeAnyLinkAStreamJoinedMidwayPassesForTheLibraryToJudge)
{
    OggPageFilter filter;
    EXPECT_TRUE(accept(filter, pageHeader(3, 0)));
    filter.reset();
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    filter.reset();
    EXPECT_TRUE(accept(filter, pageHeader(2, 0))) << "a reset forgets the link";
}

TEST(OggPageFilter, AGranulePositionNoStreamReachesInAYearIsRefused)
{
    OggPageFilter filter;
    ASSERT_TRUE(accept(filter, pageHeader(1, first)));
    for (const int64_t granule : {int64_t{1} << 62, int64_t{-2}}) {
        Bytes page = pageHeader(1, 0);
        for (int i = 0; i < 8; ++i)
            page[6 + i] = static_cast<unsigned char>(static_cast<uint64_t>(granule) >> (8 * i));
        EXPECT_FALSE(accept(filter, page)) << granule;
    }
    EXPECT_TRUE(accept(filter, pageHeader(1, 0)));
}
