#pragma once

#include <cstddef>

namespace Audio {

// Tells whether the bytes framed as one Ogg page are that page as its sender
// made it. The check itself belongs to the Ogg library, outside this folder.
class PageCheck {
public:
    virtual ~PageCheck() = default;
    // page may be changed while it is checked, but holds the same bytes after.
    virtual bool holds(unsigned char* page, std::size_t length) = 0;
};

} // namespace Audio
