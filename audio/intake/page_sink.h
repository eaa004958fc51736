#pragma once

#include <cstddef>

namespace Audio {

// Where checked Ogg pages go, one whole page per call; the bytes are only
// valid during the call.
class PageSink {
public:
    virtual ~PageSink() = default;
    virtual void onPage(const unsigned char* page, std::size_t length) = 0;
};

} // namespace Audio
