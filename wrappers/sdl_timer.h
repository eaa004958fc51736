#pragma once

#include <cstdint>

namespace Wrappers {

// Millisecond clock and sleep. The clock starts at zero when the first
// Timer of the process is constructed.
class Timer {
public:
    Timer();

    uint32_t now() const; // wraps after 2^32 ms
    void sleep(unsigned int ms) const;
};

} // namespace Wrappers
