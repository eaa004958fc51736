#include "test_helpers/network_faults.h"

#include <deque>
#include <random>
#include <utility>

namespace TestHelpers {

std::vector<Bytes> faultyDatagrams(const Bytes& stream, size_t datagramBytes, const NetworkFaults& faults)
{
    return applyFaults(splitDatagrams(stream, datagramBytes), faults);
}

std::vector<Bytes> applyFaults(const std::vector<Bytes>& datagrams, const NetworkFaults& faults)
{
    std::vector<Bytes> out;
    for (const size_t d : faultyOrder(datagrams.size(), faults))
        out.push_back(datagrams[d]);
    return out;
}

std::vector<size_t> faultyOrder(size_t count, const NetworkFaults& faults)
{
    std::mt19937 random(faults.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::vector<size_t> out;
    std::deque<std::pair<size_t, size_t>> copies; // a datagram, and how many arrive before its copy
    bool swapped = false;                         // the last one out already changed places
    for (size_t d = 0; d < count; ++d) {
        if (chance(random) < faults.loss)
            continue;
        out.push_back(d);
        // A swap takes the one before it, unless that one just moved.
        if (!swapped && out.size() >= 2 && chance(random) < faults.swap) {
            std::swap(out[out.size() - 1], out[out.size() - 2]);
            swapped = true;
        } else {
            swapped = false;
        }
        if (chance(random) < faults.duplicate)
            copies.emplace_back(d, out.size() + faults.copyLater);
        for (; !copies.empty() && copies.front().second <= out.size(); copies.pop_front())
            out.push_back(copies.front().first);
    }
    return out;
}

} // namespace TestHelpers
