#pragma once

#include "test_helpers/ogg_maker.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace TestHelpers {

// What a network does to a stream of datagrams, each with its own seeded
// chance: a datagram is lost, or arrives twice (the copy right after it),
// or arrives after the datagram that followed it (a neighbour swap).
struct NetworkFaults {
    double loss = 0;
    double duplicate = 0;
    double swap = 0;
    uint32_t seed = 1;
    size_t copyLater = 0; // with more, a copy arrives this many datagrams later
};

// The datagrams a receiver gets when stream is cut into datagrams of
// datagramBytes (the last may be shorter), anywhere in the byte stream,
// and sent through such a network. The same seed gives the same sequence.
std::vector<Bytes> faultyDatagrams(const Bytes& stream, size_t datagramBytes, const NetworkFaults& faults);

// The same for datagrams already cut (whole pages, say).
std::vector<Bytes> applyFaults(const std::vector<Bytes>& datagrams, const NetworkFaults& faults);

// Which of `count` datagrams arrive, in the order they arrive.
std::vector<size_t> faultyOrder(size_t count, const NetworkFaults& faults);

} // namespace TestHelpers
