#include "audio/intake/page_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

// A page put together in the room is lent while the later stages pass
// other pages on (a held one released, pages that waited for repair): they
// take their places before or after it as they came, one that was not
// accepted leaves nothing, and no byte is lost as the store moves and grows
// its bytes while the decoder reads behind.
TEST(PageStore, PagesAcceptedWhileOneIsLentKeepTheirOrderAroundIt)
{
    using Bytes = std::vector<unsigned char>;
    std::mt19937 random(29);
    const auto size = [&random](std::size_t most) {
        return std::uniform_int_distribution<std::size_t>(0, most)(random);
    };
    Audio::PageStore store;
    Bytes expected, got;
    unsigned char next = 0;
    const auto page = [&](std::size_t n) { return Bytes(n, ++next); };
    for (int round = 0; round < 400; ++round) {
        const Bytes before = page(size(40000)), lent = page(1 + size(65306)), after = page(size(90000));
        const bool accepted = size(2) != 0;
        unsigned char* room = store.room();
        std::copy(lent.begin(), lent.end(), room);
        store.lend(lent.size());
        store.append(before.data(), before.size());
        if (accepted)
            store.append(room, lent.size());
        store.append(after.data(), after.size());
        store.returned();
        for (const Bytes* b : {&before, accepted ? &lent : nullptr, &after})
            if (b)
                expected.insert(expected.end(), b->begin(), b->end());
        Bytes chunk(size(200000));
        chunk.resize(store.read(chunk.data(), chunk.size()));
        got.insert(got.end(), chunk.begin(), chunk.end());
    }
    Bytes rest(store.held());
    store.read(rest.data(), rest.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_TRUE(got == expected) << got.size() << " bytes read of " << expected.size();
}
