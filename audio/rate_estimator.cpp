#include "audio/rate_estimator.h"

#include "audio/format.h"
#include "audio/least_squares.h"

#include <algorithm>
#include <cmath>

namespace Audio {

namespace {

// Points and seconds a fit needs before its slope may count.
constexpr std::size_t minPoints = 10;
constexpr double minSpanSeconds = 18.0;
// How many points count as few: see refit().
constexpr double fewPointsWeight = 8.0;
// How far a counted slope may fall back into its standard error before it
// no longer counts.
constexpr double leaveSigmas = 2.0;
// Below this no clock difference is followed: 20 ppm is 72 ms an hour.
constexpr double minSlope = 20e-6;
// Scatter is never taken as less than arrival times can be read to.
constexpr double minScatter = 0.0005;
// A point this far above the line, in units of scatter, is a stretch in
// which every page came late (a stall), not the sender's clock.
constexpr double lateSigmas = 3.0;
// The newest points all this far off the line, on one side: the sender's
// timeline moved (it paused its clock, or skipped ahead). What came before
// no longer lies on the same line.
constexpr std::size_t stepPoints = 3;
constexpr double stepSeconds = 0.1;
constexpr double stepSigmas = 8.0;
// Stretches of up to this many buckets are tried as one point.
constexpr std::size_t maxGroup = 8;
// How far, in its own standard errors, the slope of either half of the
// points may lie from the slope of them all.
constexpr double agreeSigmas = 3.0;
// A difference surely beyond the speed range is no clock a sender should
// have. A network that holds datagrams and lets them go on a grid of its
// own beats with their size into a sawtooth of arrivals whose every tooth
// is a straight line, as steep as the two rhythms differ, but no higher
// than the network holds them. Such a slope counts only once its line has
// moved further than that.
constexpr double beyondRangeRiseSeconds = 2.0;
// The stretch over which lateness() looks back.
constexpr std::size_t latenessBuckets = 30;

// The median of the first n values; reorders them.
template <typename Values> double median(Values& v, std::size_t n)
{
    const auto mid = v.begin() + static_cast<long>(n / 2);
    std::nth_element(v.begin(), mid, v.begin() + static_cast<long>(n));
    return *mid;
}

// Residuals that follow on from one another (a slow beat between a
// sender's pacing and a network's bursts, a stretch that came late, a
// step) hold fewer independent points than there are, and a slope through
// them is known less well than their scatter says: by this factor, from
// how alike neighbouring residuals are.
template <typename Values> double dependence(const Values& r, std::size_t n)
{
    constexpr double mostAlike = 0.9;
    double products = 0, squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        squares += r[i] * r[i];
        products += i + 1 < n ? r[i] * r[i + 1] : 0;
    }
    const double alike = squares > 0 ? std::clamp(products / squares, 0.0, mostAlike) : 0;
    return std::sqrt((1 + alike) / (1 - alike));
}

} // namespace

void RateEstimator::reset()
{
    _first = 0;
    _count = 0;
    _openUsed = false;
    _slope = 0;
    _uncertainty = 1.0;
    _established = false;
}

void RateEstimator::restart()
{
    _first = 0;
    _count = 0;
    _openUsed = false;
}

void RateEstimator::observe(double deviceSeconds, double mediaStart, double mediaEnd)
{
    if (_openUsed && deviceSeconds >= _openUntil)
        close();
    const double byEnd = deviceSeconds - mediaEnd;
    const bool startKnown = mediaStart >= 0;
    const double byStart = startKnown ? deviceSeconds - mediaStart : byEnd;
    if (!_openUsed) {
        _open = Bucket{deviceSeconds, byEnd, byStart, byStart, startKnown};
        _openUsed = true;
        _openUntil = deviceSeconds + bucketSeconds;
        return;
    }
    if (byEnd < _open.earliestEnd) {
        _open.earliestEnd = byEnd;
        _open.at = deviceSeconds;
    }
    _open.latestStart = std::max(_open.latestStart, byStart);
    if (startKnown && (!_open.startKnown || byStart < _open.earliestStart)) {
        _open.earliestStart = byStart;
        _open.startKnown = true;
    }
}

// A high share of the stretches rather than the latest of all, so that one
// stall does not count as the sender's pacing.
double RateEstimator::lateness() const
{
    std::array<double, latenessBuckets + 1> spread{};
    std::size_t n = 0;
    const std::size_t from = _count > latenessBuckets ? _count - latenessBuckets : 0;
    for (std::size_t i = from; i < _count; ++i)
        spread[n++] = bucket(i).latestStart - bucket(i).earliestEnd;
    if (_openUsed)
        spread[n++] = _open.latestStart - _open.earliestEnd;
    if (n == 0)
        return 0;
    const std::size_t high = n * 9 / 10;
    std::nth_element(spread.begin(), spread.begin() + static_cast<long>(high),
                     spread.begin() + static_cast<long>(n));
    return std::max(0.0, spread[high]);
}

void RateEstimator::close()
{
    if (_count == maxBuckets) {
        _first = (_first + 1) % maxBuckets;
        --_count;
    }
    _buckets[(_first + _count) % maxBuckets] = _open;
    ++_count;
    _openUsed = false;
    refit();
}

// Pages sent at their start line up by where their audio starts, pages
// sent when complete by where it ends; the other reckoning scatters with
// the length of pages. The start is taken only where it is clearly the
// tighter: choosing by chance whichever looks tighter would pick a slope
// out of noise.
void RateEstimator::refit()
{
    const Fit byEnd = bestFit(false);
    const Fit byStart = bestFit(true);
    const bool useStart = byStart.valid && (!byEnd.valid || byStart.stderrSlope < 0.5 * byEnd.stderrSlope);
    const Fit& f = useStart ? byStart : byEnd;
    // After a step the clocks still differ as they did: what was
    // established stays until the points after it tell.
    if (!f.valid || forgetBeforeStep(f.slope, fit(useStart, 1).scatter, useStart))
        return;
    const double span = bucket(_count - 1).at - bucket(0).at;
    const double magnitude = std::fabs(f.slope);
    if (_count < minPoints || span < minSpanSeconds || !consistent(f, useStart))
        return;
    // A scatter measured from few points may itself be short by half, and
    // a slope is tried every couple of seconds for minutes: it must stand
    // out further while its points are few.
    // The standard error told is widened so, for the ratio of two clocks too.
    const double uncertainty = (1.0 + fewPointsWeight / static_cast<double>(f.points)) * f.stderrSlope;
    if (!_established && magnitude - uncertainty > maxSpeedChange
        && magnitude * span < beyondRangeRiseSeconds)
        return;
    if (!_established)
        _established = magnitude > enterSigmas * uncertainty && magnitude >= minSlope;
    else
        _established = magnitude > leaveSigmas * uncertainty && magnitude >= minSlope / 2;
    _slope = f.slope;
    _uncertainty = uncertainty;
}

// Where pages come in bursts, the earliest of a couple of seconds still
// scatters by up to a page's length; the earliest of a longer stretch lies
// closer to the sender's clock. The stretch that pins the slope best wins.
RateEstimator::Fit RateEstimator::bestFit(bool byStart) const
{
    Fit best = fit(byStart, 1);
    for (std::size_t group = 2; group <= maxGroup; group *= 2) {
        const Fit f = fit(byStart, group);
        if (f.valid && f.points >= minPoints && (!best.valid || f.stderrSlope < best.stderrSlope))
            best = f;
    }
    return best;
}

// A difference of rates tilts the first half of the points as it tilts the
// second. A step in either timeline (a stall made up for at once, a silence
// of the device's that went unseen) tilts the line through all of them but
// neither half: it says nothing of the rates, and what is known stays.
bool RateEstimator::consistent(const Fit& whole, bool byStart) const
{
    const std::size_t half = _count / 2;
    const Fit first = fit(byStart, whole.group, 0, half);
    const Fit second = fit(byStart, whole.group, half, _count);
    return first.valid && second.valid
           && std::fabs(first.slope - whole.slope) <= agreeSigmas * first.stderrSlope
           && std::fabs(second.slope - whole.slope) <= agreeSigmas * second.stderrSlope;
}

RateEstimator::Fit RateEstimator::fit(bool byStart, std::size_t group, std::size_t begin,
                                      std::size_t end) const
{
    std::array<double, maxBuckets> x{}, y{}, r{};
    std::size_t n = 0;
    for (std::size_t from = begin; from < end; from += group) {
        bool any = false;
        for (std::size_t i = from; i < std::min(end, from + group); ++i) {
            if (byStart && !bucket(i).startKnown)
                continue;
            if (!any || value(bucket(i), byStart) < y[n]) {
                x[n] = bucket(i).at;
                y[n] = value(bucket(i), byStart);
            }
            any = true;
        }
        n += any ? 1 : 0;
    }
    Fit f;
    f.points = n;
    f.group = group;
    if (n < 3)
        return f;
    // Twice: the second time without the stretches that came late as a whole.
    for (int pass = 0; pass < 2; ++pass) {
        const Line line = leastSquares(x, y, n);
        for (std::size_t i = 0; i < n; ++i)
            r[i] = y[i] - (line.intercept + line.slope * x[i]);
        std::array<double, maxBuckets> d = r;
        const double mid = median(d, n);
        double squares = 0;
        for (std::size_t i = 0; i < n; ++i) {
            d[i] = std::fabs(r[i] - mid);
            squares += r[i] * r[i];
        }
        // The larger of a robust and a plain measure: arrivals scatter
        // unevenly, and too small a scatter would make noise a slope.
        f.scatter =
            std::max({1.4826 * median(d, n), std::sqrt(squares / static_cast<double>(n)), minScatter});
        f.slope = line.slope;
        f.stderrSlope = line.sxx > 0 ? dependence(r, n) * f.scatter / std::sqrt(line.sxx) : 1.0;
        f.valid = line.sxx > 0;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (r[i] - mid <= lateSigmas * f.scatter) {
                x[kept] = x[i];
                y[kept] = y[i];
                ++kept;
            }
        }
        if (kept < 3 || kept == n)
            break;
        n = kept;
    }
    return f;
}

// scatter: of single buckets about the line, which is what the newest
// points are measured against.
bool RateEstimator::forgetBeforeStep(double slope, double scatter, bool byStart)
{
    constexpr std::size_t before = 9;
    if (_count < stepPoints + 3)
        return false;
    // Where the stretch before the newest points lies, detrended.
    std::array<double, before> level{};
    const std::size_t end = _count - stepPoints;
    const std::size_t from = end > before ? end - before : 0;
    for (std::size_t i = from; i < end; ++i)
        level[i - from] = value(bucket(i), byStart) - slope * bucket(i).at;
    const double base = median(level, end - from);
    const double limit = std::max(stepSeconds, stepSigmas * scatter);
    int side = 0;
    for (std::size_t i = end; i < _count; ++i) {
        const double off = value(bucket(i), byStart) - slope * bucket(i).at - base;
        const int s = off > limit ? 1 : off < -limit ? -1 : 0;
        if (s == 0 || (side != 0 && s != side))
            return false;
        side = s;
    }
    _first = (_first + end) % maxBuckets;
    _count = stepPoints;
    return true;
}

} // namespace Audio
