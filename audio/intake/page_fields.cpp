#include "audio/intake/page_fields.h"

namespace Audio {

namespace {

constexpr std::size_t flagsAt = 5;
constexpr std::size_t granuleAt = 6;
constexpr std::size_t serialAt = 14;
constexpr unsigned char continuedPacket = 0x01;
constexpr unsigned char lastPage = 0x04;
constexpr std::size_t sequenceAt = 18;
constexpr std::size_t segmentsAt = 26;

uint32_t word(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

bool PageFields::isCapture(const unsigned char* p)
{
    return p[0] == 'O' && p[1] == 'g' && p[2] == 'g' && p[3] == 'S';
}

std::size_t PageFields::headerLength(const unsigned char* h)
{
    return fixedLength + h[segmentsAt];
}

std::size_t PageFields::bodyLength(const unsigned char* h)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < h[segmentsAt]; ++i)
        n += h[fixedLength + i];
    return n;
}

uint32_t PageFields::serial(const unsigned char* h)
{
    return word(h + serialAt);
}

uint32_t PageFields::sequence(const unsigned char* h)
{
    return word(h + sequenceAt);
}

bool PageFields::continued(const unsigned char* h)
{
    return (h[flagsAt] & continuedPacket) != 0;
}

bool PageFields::first(const unsigned char* h)
{
    return (h[flagsAt] & firstPage) != 0;
}

bool PageFields::last(const unsigned char* h)
{
    return (h[flagsAt] & lastPage) != 0;
}

int64_t PageFields::granule(const unsigned char* h)
{
    const uint64_t g = uint64_t(word(h + granuleAt)) | uint64_t(word(h + granuleAt + 4)) << 32;
    return static_cast<int64_t>(g);
}

} // namespace Audio
