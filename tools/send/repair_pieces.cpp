#include "send/repair_pieces.h"

#include "audio/intake/repair_piece.h"

#include <algorithm>

namespace Send {

RepairPieces::RepairPieces(int percent)
    : _percent(percent), _packets(Audio::RepairPiece::maxRepairs), _pieces(Audio::RepairPiece::maxRepairs)
{
}

int RepairPieces::countFor(int pages, int percent)
{
    const int wanted = (pages * percent + 99) / 100;
    return std::clamp(wanted, 1, Audio::RepairPiece::maxRepairs);
}

void RepairPieces::make(RepairGroup& group, uint32_t serial)
{
    Audio::RepairPiece piece;
    piece.serial = serial;
    piece.first = group.firstSequence();
    piece.sources = group.size();
    piece.repairs = countFor(group.size(), _percent);
    piece.length = group.longest();
    _count = piece.repairs;
    for (int i = 0; i < _count; ++i) {
        std::vector<unsigned char>& packet = _packets[static_cast<std::size_t>(i)];
        packet.resize(Audio::RepairPiece::headerBytes + piece.length);
        piece.index = i;
        piece.writeHeader(packet.data());
        _pieces[static_cast<std::size_t>(i)] = packet.data() + Audio::RepairPiece::headerBytes;
    }
    _code.encode(piece.sources, piece.repairs, piece.length, group.padded(), _pieces.data());
    for (int i = 0; i < _count; ++i)
        Audio::RepairPiece::applyMask(_pieces[static_cast<std::size_t>(i)], piece.length);
}

} // namespace Send
