#include "wrappers/ogg_page_check.h"

#include "audio/intake/page_fields.h"

#include <ogg/ogg.h>

#include <cstring>

namespace Wrappers {

namespace {

constexpr std::size_t checksumAt = 22;
constexpr std::size_t checksumLength = 4;

} // namespace

// libogg computes a page's checksum only by writing it into the page, so the
// one the page came with is kept aside and put back.
bool OggPageCheck::holds(unsigned char* page, std::size_t length)
{
    const std::size_t header = Audio::PageFields::headerLength(page);
    unsigned char sent[checksumLength];
    std::memcpy(sent, page + checksumAt, checksumLength);
    ogg_page og{page, static_cast<long>(header), page + header, static_cast<long>(length - header)};
    ogg_page_checksum_set(&og);
    const bool same = std::memcmp(sent, page + checksumAt, checksumLength) == 0;
    std::memcpy(page + checksumAt, sent, checksumLength);
    return same;
}

} // namespace Wrappers
