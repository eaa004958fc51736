#pragma once

#include "audio/intake/page_check.h"

#include <cstddef>

namespace Wrappers {

// An Ogg page's checksum, by libogg. Used by the decoding thread only.
class OggPageCheck : public Audio::PageCheck {
public:
    bool holds(unsigned char* page, std::size_t length) override;
};

} // namespace Wrappers
