#include "audio/cushion.h"

#include <algorithm>

namespace Audio {

namespace {

// Pages of a stream vary in length; the longest seen so far is rarely the
// longest there will be.
constexpr double latenessMargin = 1.25;
constexpr double marginSeconds = 0.05;

} // namespace

double Cushion::afterGap(double lateness)
{
    _wanted = std::max(_wanted, lateness * latenessMargin + _period + marginSeconds);
    return _wanted;
}

} // namespace Audio
