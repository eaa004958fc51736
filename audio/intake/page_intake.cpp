#include "audio/intake/page_intake.h"

#include "audio/intake/page_fields.h"
#include "audio/intake/page_gate.h"

namespace Audio {

PageIntake::PageIntake(PageSink& out, PageCheck& check, PageGate& gate, RepairCode& code, PageRoom* room)
    : _out(out)
    , _gate(gate)
    , _room(room)
    , _repair(*this, code, check)
    , _order(_repair)
    , _framer(_window, check, _order, room)
{
}

void PageIntake::reset()
{
    _framer.useRoom(_room);
    _window.clear();
    _order.reset();
    _order.resetCounts();
    _framer.resetCounts();
    _repair.reset();
    _repair.resetCounts();
    _filter.reset();
    _newest = PageArrival();
    _refused = 0;
}

void PageIntake::commit(std::size_t size, Clock::time_point now)
{
    _repair.tick(now);
    RepairPiece piece;
    if (RepairPiece::read(_window.room(), size, piece)) {
        _repair.onPiece(piece);
        afterPages();
        return;
    }
    _window.commit(size);
    _framer.frame();
    _order.datagramEnded();
    afterPages();
}

void PageIntake::settle(Clock::time_point now)
{
    _repair.tick(now);
    _framer.settle();
    _order.flush();
    afterPages();
}

void PageIntake::starve()
{
    _repair.release();
}

// Once a stream is known to carry repair data, its gaps are the repair
// stage's to count, and its pages are put together here: the repair stage
// keeps a copy of each and passes that on, so the one lent would only be
// copied again.
void PageIntake::afterPages()
{
    if (_repair.active())
        _order.countElsewhere(_repair.protectedSerial());
    _framer.useRoom(_repair.active() ? nullptr : _room);
}

PageIntake::Counts PageIntake::counts() const
{
    Counts c;
    c.duplicates = _framer.duplicates() + _order.duplicates();
    c.reordered = _framer.reordered() + _order.reordered();
    c.pagesLost = _order.lost() + _repair.lost();
    c.pagesRefused = _refused;
    c.pagesRebuilt = _repair.rebuilt();
    return c;
}

// A page in order, past its repair: filtered, and out.
void PageIntake::onPage(const unsigned char* page, std::size_t length)
{
    const std::size_t header = PageFields::headerLength(page);
    if (!_filter.accept(page, header, length - header) || !_gate.admit(page, length)) {
        ++_refused;
        return;
    }
    _out.onPage(page, length);
    noteNewest(page, _repair.passingTaken());
}

void PageIntake::noteNewest(const unsigned char* page, Clock::time_point taken)
{
    const int64_t granule = PageFields::granule(page);
    const bool ends = PageFields::last(page);
    if (granule < 0 && !ends)
        return; // no packet ends on this page
    const uint32_t serial = PageFields::serial(page);
    const long sequence = PageFields::sequence(page);
    const bool follows = _newest.known && _newest.serial == serial && sequence == _newest.sequence + 1;
    _newest.start = follows ? _newest.granule : -1;
    _newest.sequence = sequence;
    if (granule >= 0)
        _newest.granule = granule;
    _newest.known = true;
    _newest.serial = serial;
    _newest.ends = ends;
    _newest.taken = taken;
    if (_arrived && granule >= 0 && !_repair.passingRebuilt())
        _arrived(_newest);
}

} // namespace Audio
