#include "audio/intake/repair_stage.h"

#include "audio/intake/page_check.h"
#include "audio/intake/page_fields.h"
#include "audio/intake/repair_code.h"

#include <cstring>

namespace Audio {

namespace {

constexpr std::size_t maxLength = RepairPiece::maxLength;
// Pages held beyond a gap, so that a whole group before them stays in the ring.
constexpr uint32_t maxAhead = 128 - RepairPiece::maxSources;

bool after(uint32_t a, uint32_t b)
{
    return static_cast<int32_t>(a - b) > 0;
}

} // namespace

RepairStage::RepairStage(PageSink& sink, RepairCode& code, PageCheck& check)
    : _sink(sink)
    , _code(code)
    , _check(check)
    , _pages(new unsigned char[ringSize * maxLength])
    , _pieces(new unsigned char[RepairPiece::maxRepairs * maxLength])
{
}

void RepairStage::reset()
{
    _active = false;
    _started = false;
    _group = Group();
    _slots.fill(Slot());
    _lastKnown = false;
}

void RepairStage::resetCounts()
{
    _rebuilt = 0;
    _lost = 0;
}

void RepairStage::tick(Clock::time_point now)
{
    _now = now;
    if (holding() && now - _holdSince >= maxHold)
        giveUpFirstGap();
}

void RepairStage::onPage(const unsigned char* page, std::size_t length)
{
    const uint32_t serial = PageFields::serial(page);
    const uint32_t sequence = PageFields::sequence(page);
    if (_active && serial == _serial && length <= maxLength) {
        if (_started && after(_next, sequence) && !PageFields::first(page))
            return; // rebuilt already, or given up on: too late either way
        if (!_started || after(_next, sequence)) {
            // The stream's start, or the stream sent again from its start.
            release();
            _started = true;
            _next = _end = _settled = sequence;
        }
        if (sequence - _next >= maxAhead)
            giveUpTo(sequence - maxAhead + 1);
        store(page, length, sequence);
        passOn();
        return;
    }
    // Another stream, or a page too long to keep: what is held goes first.
    release();
    if (PageFields::first(page) && serial != _serial)
        _active = false; // a new link; its repair header follows its first page
    if (!_active && PageFields::first(page) && length <= maxLength)
        store(page, length, sequence); // a group of the link begins with it
    if (_active && serial == _serial)
        _next = _end = _settled = sequence + 1;
    if (!_lastKnown || _lastSerial != serial)
        _firstSequence = sequence;
    _lastKnown = true;
    _lastSerial = serial;
    _lastSequence = sequence;
    pass(page, length, _now, false);
}

// The pages of the latest group known were all sent, even those past the
// newest that came.
void RepairStage::release()
{
    if (!_active || !_started)
        return;
    const uint32_t groupEnd = _group.first + static_cast<uint32_t>(_group.sources);
    giveUpTo(_group.known && after(groupEnd, _end) ? groupEnd : _end);
}

void RepairStage::activate(uint32_t serial)
{
    if (_active && _serial == serial)
        return;
    release();
    _active = true;
    _serial = serial;
    _group = Group();
    // The repair header follows the link's first page (sequence 0), so a
    // link not seen yet lost its first pages, which its first group may
    // rebuild.
    _started = true;
    if (_lastKnown && _lastSerial == serial) {
        _next = _lastSequence + 1;
        if (!has(0))
            _lost += _firstSequence; // pages before the first that came are past rebuilding
    } else {
        _next = has(0) ? 1 : 0;
    }
    _end = _settled = _next;
}

void RepairStage::onPiece(const RepairPiece& piece)
{
    activate(piece.serial);
    if (piece.sources == 0)
        return;
    if (!_group.known || after(piece.first, _group.first)) {
        // Every page before a later group's has been sent: what of them
        // is missing now stays missing.
        giveUpTo(piece.first);
        startGroup(piece);
    } else if (piece.first != _group.first || piece.sources != _group.sources
               || piece.repairs != _group.repairs || piece.length != _group.length) {
        return; // an older group's, or one at odds with its group
    }
    if (_group.present[piece.index])
        return;
    _group.present[piece.index] = true;
    ++_group.count;
    const int pages = presentPages();
    if (pages == _group.sources)
        return; // nothing to rebuild: the piece is not even kept
    std::memcpy(pieceBytes(piece.index), piece.data, piece.length);
    RepairPiece::applyMask(pieceBytes(piece.index), piece.length);
    if (pages + _group.count >= _group.sources)
        tryRebuild();
    else if (_group.count == _group.repairs)
        giveUpTo(_group.first + static_cast<uint32_t>(_group.sources));
}

void RepairStage::startGroup(const RepairPiece& piece)
{
    _group = Group();
    _group.known = true;
    _group.first = piece.first;
    _group.sources = piece.sources;
    _group.repairs = piece.repairs;
    _group.length = piece.length;
}

int RepairStage::presentPages() const
{
    int n = 0;
    for (int i = 0; i < _group.sources; ++i)
        n += has(_group.first + static_cast<uint32_t>(i)) ? 1 : 0;
    return n;
}

// Each page counts as the group's length, zeros after its end; the pages
// missing are rebuilt in their own slots of the ring.
void RepairStage::tryRebuild()
{
    constexpr int most = RepairPiece::maxSources + RepairPiece::maxRepairs;
    std::array<unsigned char*, most> pieces{};
    std::array<bool, most> present{};
    const std::size_t length = _group.length;
    for (int i = 0; i < _group.sources; ++i) {
        const uint32_t sequence = _group.first + static_cast<uint32_t>(i);
        pieces[i] = slotBytes(sequence);
        present[i] = has(sequence);
        const std::size_t used = present[i] ? _slots[sequence % ringSize].length : 0;
        if (used > length)
            return; // the group is not what its pieces say
        std::memset(pieces[i] + used, 0, length - used);
    }
    for (int j = 0; j < _group.repairs; ++j) {
        pieces[_group.sources + j] = pieceBytes(j);
        present[_group.sources + j] = _group.present[j];
    }
    if (!_code.rebuild(_group.sources, _group.repairs, length, pieces.data(), present.data()))
        return;
    for (int i = 0; i < _group.sources; ++i) {
        const uint32_t sequence = _group.first + static_cast<uint32_t>(i);
        if (!present[i] && !after(_next, sequence) && sound(pieces[i], sequence))
            ++_rebuilt;
    }
    giveUpTo(_group.first + static_cast<uint32_t>(_group.sources));
}

// A rebuilt page is taken only when it is the page it stands for, checked
// as the network's pages are.
bool RepairStage::sound(unsigned char* page, uint32_t sequence)
{
    const std::size_t length = _group.length;
    if (length < PageFields::fixedLength || !PageFields::isCapture(page))
        return false;
    const std::size_t header = PageFields::headerLength(page);
    if (header > length || header + PageFields::bodyLength(page) > length)
        return false;
    const std::size_t whole = header + PageFields::bodyLength(page);
    if (PageFields::serial(page) != _serial || PageFields::sequence(page) != sequence
        || !_check.holds(page, whole))
        return false;
    _slots[sequence % ringSize] = Slot{_serial, sequence, whole, true, _now};
    if (!after(_end, sequence))
        _end = sequence + 1;
    return true;
}

void RepairStage::store(const unsigned char* page, std::size_t length, uint32_t sequence)
{
    std::memcpy(slotBytes(sequence), page, length);
    _slots[sequence % ringSize] = Slot{PageFields::serial(page), sequence, length, false, _now};
    if (!after(_end, sequence))
        _end = sequence + 1;
}

bool RepairStage::has(uint32_t sequence) const
{
    const Slot& s = _slots[sequence % ringSize];
    return s.length > 0 && s.serial == _serial && s.sequence == sequence;
}

// Passes on what follows in order; a gap not yet given up stops it.
void RepairStage::passOn()
{
    while (_next != _end) {
        if (has(_next)) {
            const Slot& s = _slots[_next % ringSize];
            pass(slotBytes(_next), s.length, s.taken, s.rebuilt);
        } else if (after(_settled, _next)) {
            ++_lost;
        } else {
            break;
        }
        ++_next;
    }
    if (_next != _end && _holdAt != _next) {
        _holdAt = _next;
        _holdSince = _now;
    }
}

// Gaps before `sequence` are not waited for any more: the pages up to it
// were sent, so those that never came count as lost, at most a group's
// length beyond the pages stored.
void RepairStage::giveUpTo(uint32_t sequence)
{
    if (after(sequence, _end + RepairPiece::maxSources))
        sequence = _end + RepairPiece::maxSources;
    if (after(sequence, _settled))
        _settled = sequence;
    if (after(sequence, _end))
        _end = sequence;
    passOn();
}

void RepairStage::giveUpFirstGap()
{
    uint32_t s = _next;
    while (s != _end && !has(s))
        ++s;
    giveUpTo(s);
}

void RepairStage::pass(const unsigned char* page, std::size_t length, Clock::time_point taken, bool rebuilt)
{
    _passingTaken = taken;
    _passingRebuilt = rebuilt;
    _sink.onPage(page, length);
}

} // namespace Audio
