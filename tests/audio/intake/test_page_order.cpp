#include "audio/intake/page_fields.h"
#include "audio/intake/page_order.h"
#include "audio/intake/page_sink.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/ogg_pages.h"

#include <gtest/gtest.h>

#include <vector>

using namespace TestHelpers;

namespace {

struct Sequences : Audio::PageSink {
    std::vector<uint32_t> got;
    void onPage(const unsigned char* page, std::size_t) override
    {
        got.push_back(Audio::PageFields::sequence(page));
    }
};

// Pushes pages by sequence number, one datagram each.
struct Order {
    std::vector<Bytes> pages = splitPages(makeLink(7, 44100, {1000, 2000, 3000, 4000, 5000, 6000}));
    Sequences sink;
    Audio::PageOrder order{sink};

    void send(std::initializer_list<int> sequences, bool afterLoss = false)
    {
        for (int s : sequences) {
            order.push(pages[s].data(), pages[s].size(), afterLoss);
            order.datagramEnded();
        }
    }
};

} // namespace

TEST(PageOrder, RepeatsDroppedSwappedNeighboursPutBack)
{
    Order o;
    o.send({1, 0, 1, 3, 2, 4, 2, 6, 5});
    EXPECT_EQ(o.sink.got, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(o.order.duplicates(), 2u);
    EXPECT_EQ(o.order.reordered(), 3u);
    EXPECT_EQ(o.order.lost(), 0u);
}

TEST(PageOrder, GapIsWaitedForOneDatagramOnlyAndLateOnesAreDropped)
{
    Order o;
    o.send({0, 2});
    EXPECT_EQ(o.sink.got, (std::vector<uint32_t>{0}));
    o.send({3});
    EXPECT_EQ(o.sink.got, (std::vector<uint32_t>{0, 2, 3}));
    o.send({1, 4});
    o.send({6}, true); // known lost: not held
    EXPECT_EQ(o.sink.got, (std::vector<uint32_t>{0, 2, 3, 4, 6}));
    EXPECT_EQ(o.order.lost(), 2u);

    Order stalled;
    stalled.send({0, 2});
    stalled.order.flush();
    EXPECT_EQ(stalled.sink.got, (std::vector<uint32_t>{0, 2}));

    Order joined; // in the middle of a stream: nothing is missing yet
    joined.send({3, 4});
    EXPECT_EQ(joined.sink.got, (std::vector<uint32_t>{3, 4}));
    EXPECT_EQ(joined.order.lost(), 0u);
}
