#pragma once

#include <cstddef>

namespace Audio {

// The decoding library's own last word on a checked page, in its stream's
// order: whether the library can take it safely. It belongs to the
// library's layer, outside this folder.
class PageGate {
public:
    virtual ~PageGate() = default;
    virtual bool admit(const unsigned char* page, std::size_t length) = 0;
};

} // namespace Audio
