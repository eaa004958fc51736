#include "audio/intake/page_order.h"

#include "audio/intake/page_fields.h"
#include "audio/intake/page_sink.h"

#include <algorithm>
#include <cstring>

namespace Audio {

namespace {

constexpr uint32_t remembered = 64; // sequence numbers behind `next` told apart

} // namespace

PageOrder::PageOrder(PageSink& sink) : _sink(sink), _held(new unsigned char[PageFields::maxPage])
{
}

void PageOrder::reset()
{
    _count = 0;
    _elsewhere = false;
    _heldLength = 0;
    _heldOld = false;
}

void PageOrder::resetCounts()
{
    _duplicates = 0;
    _reordered = 0;
    _lost = 0;
}

void PageOrder::push(const unsigned char* page, std::size_t length, bool afterLoss)
{
    const uint32_t serial = PageFields::serial(page);
    const uint32_t sequence = PageFields::sequence(page);
    if (_heldLength > 0 && serial != _heldSerial)
        release();
    bool fresh = false;
    Stream& s = stream(serial, sequence, fresh);
    if (fresh && !PageFields::first(page) && !afterLoss && sequence > 0) {
        // A stream's first page may be the one swapped behind it.
        s.next = sequence - 1;
        hold(s, page, length);
        return;
    }
    if (fresh || sequence == s.next) {
        give(s, page, length);
        if (_heldLength > 0 && PageFields::sequence(_held.get()) == s.next) {
            ++_reordered;
            give(s, _held.get(), _heldLength);
            _heldLength = 0;
        }
        return;
    }
    if (static_cast<int32_t>(sequence - s.next) < 0) {
        behind(s, page, length);
        return;
    }
    if (_heldLength > 0)
        release();
    if (afterLoss || sequence != s.next + 1 || !hold(s, page, length)) {
        countLost(serial, sequence - s.next);
        give(s, page, length);
    }
}

// A page older than the next expected: a repeat, a late one (already
// counted as lost), or the first page of the stream sent again from its
// start, which begins it afresh.
void PageOrder::behind(Stream& s, const unsigned char* page, std::size_t length)
{
    const uint32_t back = s.next - 1 - PageFields::sequence(page);
    if (back < remembered && (s.taken >> back & 1)) {
        ++_duplicates;
    } else if (PageFields::first(page) && back >= remembered) {
        s.next = PageFields::sequence(page);
        s.taken = 0;
        give(s, page, length);
    }
}

void PageOrder::datagramEnded()
{
    if (_heldLength > 0 && _heldOld)
        release();
    _heldOld = _heldLength > 0;
}

void PageOrder::flush()
{
    if (_heldLength > 0)
        release();
}

PageOrder::Stream& PageOrder::stream(uint32_t serial, uint32_t sequence, bool& fresh)
{
    ++_clock;
    for (std::size_t i = 0; i < _count; ++i) {
        if (_streams[i].serial == serial) {
            _streams[i].use = _clock;
            return _streams[i];
        }
    }
    fresh = true;
    auto* slot = _count < maxStreams
                     ? &_streams[_count++]
                     : std::min_element(_streams.begin(), _streams.end(),
                                        [](const Stream& a, const Stream& b) { return a.use < b.use; });
    *slot = Stream{serial, sequence, 0, _clock};
    return *slot;
}

void PageOrder::give(Stream& s, const unsigned char* page, std::size_t length)
{
    const uint32_t sequence = PageFields::sequence(page);
    const uint32_t step = sequence + 1 - s.next;
    s.taken = step >= remembered ? 0 : s.taken << step;
    s.taken |= 1;
    s.next = sequence + 1;
    _sink.onPage(page, length);
}

// The held page goes out without the one it waited for.
void PageOrder::release()
{
    const std::size_t length = _heldLength;
    _heldLength = 0;
    _heldOld = false;
    bool fresh = false;
    Stream& s = stream(_heldSerial, PageFields::sequence(_held.get()), fresh);
    if (s.taken != 0)
        countLost(s.serial, PageFields::sequence(_held.get()) - s.next); // else: a stream joined midway
    give(s, _held.get(), length);
}

void PageOrder::countElsewhere(uint32_t serial)
{
    _elsewhere = true;
    _elsewhereSerial = serial;
}

void PageOrder::countLost(uint32_t serial, uint32_t pages)
{
    if (!_elsewhere || serial != _elsewhereSerial)
        _lost += pages;
}

bool PageOrder::hold(const Stream& s, const unsigned char* page, std::size_t length)
{
    if (length > PageFields::maxPage)
        return false;
    std::memcpy(_held.get(), page, length);
    _heldLength = length;
    _heldSerial = s.serial;
    _heldOld = false;
    return true;
}

} // namespace Audio
