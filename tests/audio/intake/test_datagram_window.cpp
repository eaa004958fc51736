#include "audio/intake/datagram_window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

void put(Audio::DatagramWindow& w, unsigned char value, std::size_t size)
{
    std::memset(w.room(), value, size);
    w.commit(size);
}

bool holds(const Audio::DatagramWindow& w, std::size_t i, unsigned char value, std::size_t size)
{
    const auto& s = w.slot(i);
    return s.size == size
           && std::vector<unsigned char>(w.data(s), w.data(s) + s.size)
                  == std::vector<unsigned char>(size, value);
}

} // namespace

// Many datagrams through a window that keeps a few: the buffer is reused
// in place, and what is kept keeps its bytes and its order.
TEST(DatagramWindow, KeepsBytesAndOrderThroughReuseAndReordering)
{
    Audio::DatagramWindow w;
    const std::size_t size = 40000;
    for (unsigned value = 0; value < 200; value += 3) {
        put(w, static_cast<unsigned char>(value), size);
        put(w, static_cast<unsigned char>(value + 1), size);
        put(w, static_cast<unsigned char>(value + 2), size);
        const std::uint16_t swapped[] = {0, 2, 1};
        w.reorder(swapped, 3);
        ASSERT_TRUE(holds(w, 1, static_cast<unsigned char>(value + 2), size));
        ASSERT_TRUE(holds(w, 2, static_cast<unsigned char>(value + 1), size));
        w.consume(size / 2);
        EXPECT_EQ(w.frontBytes(), size / 2);
        w.consume(size / 2 + 2 * size);
        ASSERT_EQ(w.count(), 0u);
    }
}

TEST(DatagramWindow, TellsRepeatsOfPendingAndOfFramedDatagrams)
{
    Audio::DatagramWindow w;
    put(w, 1, 100);
    put(w, 2, 100);
    w.consume(150);
    put(w, 1, 100);
    put(w, 2, 100);
    put(w, 2, 99);
    EXPECT_TRUE(w.repeatsEarlier(1));
    EXPECT_TRUE(w.repeatsEarlier(2));
    EXPECT_FALSE(w.repeatsEarlier(0));
    EXPECT_FALSE(w.repeatsEarlier(3));
}
