#include "test_helpers/simulated_sender.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace TestHelpers {

std::vector<SimulatedSender::Arrival> SimulatedSender::arrivals(double seconds) const
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> length(0.1, 0.45);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Arrival> out;
    bool previousLost = false;
    for (double start = 0; start < seconds;) {
        const double end = start + length(random);
        double sent = pacing == Pacing::AtStart ? std::max(0.0, start - lead)
                      : pacing == Pacing::AtEnd ? end
                                                : std::ceil(end / burstSeconds) * burstSeconds;
        if (stallAt >= 0 && sent >= stallAt && sent < stallAt + stallSeconds)
            sent = stallAt + stallSeconds;
        const bool lost = unit(random) < loss;
        const double delay = jitterSeconds * unit(random);
        if (!lost)
            out.push_back(Arrival{sent / rate + delay, previousLost ? -1.0 : start, end});
        previousLost = lost;
        start = end;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Arrival& a, const Arrival& b) { return a.device < b.device; });
    return out;
}

} // namespace TestHelpers
