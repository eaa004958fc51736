#include "send/repair_mixer.h"

#include "audio/intake/repair_piece.h"

namespace Send {

RepairMixer::RepairMixer(int percent, double spanSeconds)
    : _percent(percent), _group(spanSeconds), _pieces(percent)
{
}

void RepairMixer::add(OggPage page)
{
    if (_percent > 0 && (page.bos || page.serial != _serial))
        endLink();
    if (_percent > 0 && page.bos)
        startLink(page);
    if (!_stream) {
        _out.push_back(std::move(page));
        return;
    }
    const bool fits = page.bytes.size() <= Audio::RepairPiece::maxLength;
    if (!fits || !_group.follows(page))
        closeGroup();
    if (fits)
        _group.add(page);
    const bool last = page.eos;
    _out.push_back(std::move(page));
    // The receiver holds a gap for its repair only once it knows the link
    // has repair data, so the header goes out thrice: a loss of the
    // first would leave the first group unprotected.
    if (_linkPages++ < headerCopies)
        _out.push_back(_stream->firstPage());
    if (last)
        endLink();
    else if (_group.full())
        closeGroup();
}

void RepairMixer::finish()
{
    endLink();
}

bool RepairMixer::pageOut(OggPage& page)
{
    if (_out.empty())
        return false;
    page = std::move(_out.front());
    _out.pop_front();
    return true;
}

void RepairMixer::reset()
{
    _out.clear();
    _stream.reset();
    _group.clear();
}

void RepairMixer::startLink(const OggPage& page)
{
    _serial = page.serial;
    _stream = std::make_unique<RepairStream>(page.serial);
    _group.startLink(page.sampleRate);
    _linkPages = 0;
}

void RepairMixer::endLink()
{
    if (!_stream)
        return;
    closeGroup();
    _stream.reset();
}

void RepairMixer::closeGroup()
{
    if (_group.empty())
        return;
    _pieces.make(_group, _serial);
    for (int i = 0; i < _pieces.size(); ++i)
        _out.push_back(_stream->piecePage(_pieces.packet(i)));
    _group.clear();
}

} // namespace Send
