#include "test_helpers/network_faults.h"

#include <random>
#include <utility>

namespace TestHelpers {

std::vector<Bytes> faultyDatagrams(const Bytes& stream, size_t datagramBytes, const NetworkFaults& faults)
{
    return applyFaults(splitDatagrams(stream, datagramBytes), faults);
}

std::vector<Bytes> applyFaults(const std::vector<Bytes>& datagrams, const NetworkFaults& faults)
{
    std::mt19937 random(faults.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::vector<Bytes> out;
    bool swapped = false; // the last one out already changed places
    for (const Bytes& d : datagrams) {
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
            out.push_back(d);
    }
    return out;
}

} // namespace TestHelpers
