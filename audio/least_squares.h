#pragma once

#include <cstddef>

namespace Audio {

// The straight line nearest, by least squares, to the points (x[i], y[i])
// for i below n, and the spread of the x values it rests on.
struct Line {
    double slope = 0;
    double intercept = 0;
    double sxx = 0;
};

template <typename Points> Line leastSquares(const Points& x, const Points& y, std::size_t n)
{
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= static_cast<double>(n);
    my /= static_cast<double>(n);
    double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    Line line;
    line.sxx = sxx;
    line.slope = sxx > 0 ? sxy / sxx : 0;
    line.intercept = my - line.slope * mx;
    return line;
}

} // namespace Audio
