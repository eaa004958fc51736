#include "send/repair_stream.h"

#include "audio/intake/page_fields.h"
#include "audio/intake/repair_piece.h"

namespace Send {

namespace {

// A page of one packet: the header, a lacing value per full segment of 255
// and one for the shorter segment that ends the packet, then the packet.
std::size_t pageBytesFor(std::size_t packetBytes)
{
    return Audio::PageFields::fixedLength + packetBytes / 255 + 1 + packetBytes;
}

} // namespace

RepairStream::RepairStream(uint32_t protectedSerial)
    : _protected(protectedSerial), _pager(protectedSerial ^ serialPattern, 0, 0, Audio::PageFields::maxPage)
{
}

OggPage RepairStream::firstPage()
{
    Audio::RepairPiece header;
    header.serial = _protected;
    unsigned char packet[Audio::RepairPiece::headerBytes];
    header.writeHeader(packet);
    return pageOf(packet, sizeof packet, 0, false);
}

OggPage RepairStream::piecePage(const std::vector<unsigned char>& packet, int64_t granule, bool last)
{
    OggPage page = pageOf(packet.data(), packet.size(), granule, last);
    page.alone = true;
    return page;
}

OggPage RepairStream::pageOf(const unsigned char* packet, std::size_t size, int64_t granule, bool last)
{
    _pager.add(packet, size, granule, last);
    _pager.flush();
    OggPage page;
    _pager.pageOut(page);
    return page;
}

std::size_t RepairStream::largestProtectedPage(std::size_t datagramBytes)
{
    std::size_t page = datagramBytes;
    while (page > 0 && pageBytesFor(Audio::RepairPiece::headerBytes + page) > datagramBytes)
        --page;
    return page;
}

} // namespace Send
