#pragma once

#include "audio/intake/page_arrival.h"

#include <chrono>

namespace Audio {

// Where the stream's datagrams come in, as the fill loop sees it: taken
// after each hand-over, or as they arrive while a cushion is kept, each
// page dated by when it came. The real one is Wrappers::OggInput. Used by
// the decoding thread.
class Intake {
public:
    virtual ~Intake() = default;

    // Takes datagrams as they arrive until `until`.
    virtual void takeUntil(std::chrono::steady_clock::time_point until) = 0;
    // Takes whatever waits now, without waiting.
    virtual void drain() = 0;
    // The newest page taken that carries a granule position.
    virtual const PageArrival& newest() const = 0;
    // The last page served ended its link.
    virtual bool linkEnded() const = 0;
    virtual bool stopRequested() const = 0;
};

} // namespace Audio
