#include "audio/intake/repair_piece.h"

#include <cstring>

namespace Audio {

namespace {

constexpr unsigned char magic[8] = {'V', 'R', 'e', 'p', 'a', 'i', 'r', 2};

uint32_t le32(const unsigned char* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

} // namespace

bool RepairPiece::read(const unsigned char* datagram, std::size_t bytes, RepairPiece& piece)
{
    if (bytes < headerBytes || std::memcmp(datagram, magic, sizeof magic) != 0)
        return false;
    piece.serial = le32(datagram + 8);
    piece.first = le32(datagram + 12);
    piece.sources = datagram[16];
    piece.repairs = datagram[17];
    piece.index = datagram[18];
    piece.length = std::size_t{datagram[20]} | std::size_t{datagram[21]} << 8;
    piece.data = datagram + headerBytes;
    if (piece.sources == 0)
        return piece.repairs == 0 && piece.length == 0 && bytes == headerBytes;
    return piece.sources <= maxSources && piece.repairs >= 1 && piece.repairs <= maxRepairs
           && piece.index < piece.repairs && piece.length >= 1 && piece.length <= maxLength
           && bytes == headerBytes + piece.length;
}

void RepairPiece::applyMask(unsigned char* bytes, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] ^= mask;
}

void RepairPiece::writeHeader(unsigned char* out) const
{
    std::memcpy(out, magic, sizeof magic);
    put32(out + 8, serial);
    put32(out + 12, first);
    out[16] = static_cast<unsigned char>(sources);
    out[17] = static_cast<unsigned char>(repairs);
    out[18] = static_cast<unsigned char>(index);
    out[19] = 0;
    out[20] = static_cast<unsigned char>(length);
    out[21] = static_cast<unsigned char>(length >> 8);
}

} // namespace Audio
