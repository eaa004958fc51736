#include "send/repair_stream.h"

#include "audio/intake/repair_piece.h"

namespace Send {

RepairStream::RepairStream(uint32_t protectedSerial) : _protected(protectedSerial)
{
}

OggPage RepairStream::firstPage() const
{
    Audio::RepairPiece header;
    header.serial = _protected;
    unsigned char packet[Audio::RepairPiece::headerBytes];
    header.writeHeader(packet);
    return datagramOf(packet, sizeof packet);
}

OggPage RepairStream::piecePage(const std::vector<unsigned char>& packet) const
{
    return datagramOf(packet.data(), packet.size());
}

// Alone in its datagram: a lost datagram costs one piece and never a page
// of audio with it, and the receiver tells a piece by its datagram.
OggPage RepairStream::datagramOf(const unsigned char* packet, std::size_t size) const
{
    OggPage page;
    page.bytes.assign(packet, packet + size);
    page.serial = _protected ^ serialPattern;
    page.alone = true;
    return page;
}

std::size_t RepairStream::largestProtectedPage(std::size_t datagramBytes)
{
    return datagramBytes > Audio::RepairPiece::headerBytes ? datagramBytes - Audio::RepairPiece::headerBytes
                                                           : 0;
}

} // namespace Send
