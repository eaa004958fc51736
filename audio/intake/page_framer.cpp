#include "audio/intake/page_framer.h"

#include "audio/intake/page_check.h"
#include "audio/intake/page_fields.h"
#include "audio/intake/page_order.h"
#include "audio/intake/page_room.h"

#include <algorithm>
#include <cstring>

namespace Audio {

namespace {

// Bytes checked per datagram beyond the page in arrival order: every order
// tried costs a check of the whole page, and a hostile sender's datagrams
// must not make that unbounded.
constexpr std::size_t checkBudgetBytes = std::size_t{2} << 20;
// Orders and later captures framed per datagram, checked or not: a hostile
// datagram may hold thousands of captures.
constexpr int orderBudget = 4096;
// Datagrams looked at for swaps when the page's length is not known.
constexpr std::size_t unknownSpan = 8;
constexpr std::size_t captureLength = 4;

} // namespace

PageFramer::PageFramer(DatagramWindow& window, PageCheck& check, PageOrder& order, PageRoom* room)
    : _window(window)
    , _check(check)
    , _order(order)
    , _room(room)
    , _scratch(new unsigned char[PageFields::maxPage])
{
}

void PageFramer::resetCounts()
{
    _duplicates = 0;
    _reordered = 0;
    _lostBytes = 0;
}

void PageFramer::frame()
{
    _checkBudget = checkBudgetBytes;
    _ordersLeft = orderBudget;
    while (_window.count() > 0) {
        identity(_natural, _window.count());
        const Framed r = frameAt(_natural, 0, false);
        if (r == Framed::good) {
            take(false);
            continue;
        }
        if (repair(r) || dropGarbage(r) || giveUpFront())
            continue;
        if (!_window.full())
            return;
        lose(_window.frontBytes());
    }
}

void PageFramer::settle()
{
    _settling = true;
    frame();
    _settling = false;
}

PageFramer::Framed PageFramer::frameAt(const Order& o, std::size_t from, bool budgeted)
{
    unsigned char* page = _room ? _room->room() : _scratch.get();
    if (gather(o, from, captureLength, page) < captureLength)
        return Framed::missing;
    if (!PageFields::isCapture(page))
        return Framed::noCapture;
    std::size_t got = captureLength;
    got += gather(o, from + got, PageFields::fixedLength - got, page + got);
    if (got < PageFields::fixedLength)
        return Framed::missing;
    const std::size_t header = PageFields::headerLength(page);
    got += gather(o, from + got, header - got, page + got);
    if (got < header)
        return Framed::missing;
    _length = header + PageFields::bodyLength(page);
    if (available(o) < from + _length)
        return Framed::missing;
    if (budgeted) {
        if (_length > _checkBudget)
            return Framed::missing; // not known: treated as still arriving
        _checkBudget -= _length;
    }
    _page = from == 0 ? inPlace(o) : nullptr;
    _inRoom = !_page && _room;
    if (!_page) {
        gather(o, from + got, _length - got, page + got);
        _page = page;
    }
    return _check.holds(_page, _length) ? Framed::good : Framed::bad;
}

// A page that lies whole in the first datagram of the order is checked and
// passed on where it arrived: the one copy it then needs is the decoder's.
unsigned char* PageFramer::inPlace(const Order& o)
{
    if (o.n == 0)
        return nullptr;
    const DatagramWindow::Slot& s = _window.slot(o.at[0]);
    const std::size_t b = _window.begin(o.at[0]);
    return s.size - b >= _length ? _window.data(s) + b : nullptr;
}

std::size_t PageFramer::available(const Order& o) const
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < o.n; ++i)
        n += _window.slot(o.at[i]).size - _window.begin(o.at[i]);
    return n;
}

std::size_t PageFramer::gather(const Order& o, std::size_t from, std::size_t length, unsigned char* dst) const
{
    std::size_t copied = 0;
    for (std::size_t i = 0; i < o.n && copied < length; ++i) {
        const DatagramWindow::Slot& s = _window.slot(o.at[i]);
        std::size_t b = _window.begin(o.at[i]);
        const std::size_t avail = s.size - b;
        if (from >= avail) {
            from -= avail;
            continue;
        }
        b += from;
        from = 0;
        const std::size_t n = std::min(s.size - b, length - copied);
        std::memcpy(dst + copied, _window.data(s) + b, n);
        copied += n;
    }
    return copied;
}

// Tries the orders near arrival order for the page at the front; takes the
// first that makes it check. The front datagram keeps its place when the
// page begins in it; otherwise it may be the continuation that came first.
bool PageFramer::repair(Framed natural)
{
    if (natural == Framed::missing && !headerStraddles())
        return false; // the page is still arriving
    // Without repeats first: a repeat is the likelier fault, and the swaps
    // tried with it must not be spent before.
    _base = _natural;
    if (dedup(_base) && (tryOrder(_base) || trySwaps(_base, natural, none)))
        return adopt();
    _base = _natural;
    // A page still arriving in arrival order can only come whole by a change
    // to its header.
    const std::size_t firstUpTo = natural == Framed::missing ? headerEnd(_base) : none;
    return trySwaps(_base, natural, firstUpTo) && adopt();
}

// The order in _variant becomes the window's, and its front page is taken.
bool PageFramer::adopt()
{
    _duplicates += _window.count() - _variant.n;
    _reordered += static_cast<unsigned long>(_swaps);
    _window.reorder(_variant.at.data(), _variant.n);
    take(false);
    return true;
}

// Leaves out every datagram that repeats an earlier one; false when none does.
bool PageFramer::dedup(Order& o) const
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < o.n; ++i) {
        const bool partlyTaken = o.at[i] == 0 && _window.begin(0) > 0;
        if (partlyTaken || !_window.repeatsEarlier(o.at[i]))
            o.at[kept++] = o.at[i];
    }
    const bool changed = kept < o.n;
    o.n = kept;
    return changed && kept > 0;
}

// One swap of neighbours, then two, and so on up to maxSwaps, among the
// datagrams the page spans; the order found is left in _variant.
bool PageFramer::trySwaps(const Order& base, Framed natural, std::size_t firstUpTo)
{
    _firstUpTo = firstUpTo;
    _completeSeen = false;
    const bool swapFront = _window.begin(base.at[0]) == 0 && natural == Framed::noCapture;
    const std::size_t from = swapFront ? 0 : 1;
    const std::size_t to = span(base);
    for (_swaps = 1; _swaps <= maxSwaps; ++_swaps) {
        if (swapSets(base, from, to, _swaps))
            return true;
        // No header change made the page whole: more swaps cannot either.
        if (firstUpTo != none && !_completeSeen)
            return false;
    }
    return false;
}

// Every set of n swaps of neighbours at positions from..to - 1, each pair
// apart from the others, until the page at the front checks.
bool PageFramer::swapSets(const Order& base, std::size_t from, std::size_t to, int n)
{
    std::array<std::size_t, maxSwaps> at{}; // first position of each pair
    for (int k = 0; k < n; ++k)
        at[k] = from + 2 * static_cast<std::size_t>(k);
    const auto last = [&](int k) { return to - 2 - 2 * static_cast<std::size_t>(n - 1 - k); };
    if (to < from + 2 * static_cast<std::size_t>(n) || from > _firstUpTo)
        return false;
    for (;;) {
        _variant = base;
        for (int k = 0; k < n; ++k)
            std::swap(_variant.at[at[k]], _variant.at[at[k] + 1]);
        const Framed r = frameAt(_variant, 0);
        if (r == Framed::good)
            return true;
        _completeSeen = _completeSeen || r == Framed::bad;
        int k = n - 1;
        while (k >= 0 && at[k] == last(k))
            --k;
        if (k < 0 || _checkBudget == 0 || --_ordersLeft <= 0 || (k == 0 && at[0] == _firstUpTo))
            return false;
        ++at[k];
        for (int j = k + 1; j < n; ++j)
            at[j] = at[j - 1] + 2;
    }
}

// The datagrams of base that hold the front page as its header tells, and
// the one after; swaps beyond make no difference to the page.
std::size_t PageFramer::span(const Order& base)
{
    std::size_t length = 0;
    if (frameAt(base, 0) != Framed::noCapture)
        length = _length;
    if (length == 0)
        return std::min(base.n, unknownSpan);
    std::size_t bytes = 0, i = 0;
    for (; i < base.n && bytes < length; ++i)
        bytes += _window.slot(base.at[i]).size - _window.begin(base.at[i]);
    return std::min(base.n, i + 1);
}

// Where the longest header that may begin the front page ends.
std::size_t PageFramer::headerEnd(const Order& base) const
{
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < base.n; ++i) {
        bytes += _window.slot(base.at[i]).size - _window.begin(base.at[i]);
        if (bytes >= PageFields::fixedLength + 255)
            return i;
    }
    return base.n;
}

bool PageFramer::tryOrder(const Order& base)
{
    _swaps = 0;
    _variant = base;
    return frameAt(_variant, 0) == Framed::good;
}

// The front page's header runs past its first datagram, into one that may
// be misplaced.
bool PageFramer::headerStraddles() const
{
    return _window.frontBytes() < PageFields::fixedLength + 255 && _window.count() > 1;
}

// Bytes in front that begin no page and cannot be the continuation that
// came before the datagram its page begins in: lost at once, up to where a
// page may begin, the front datagram at most.
bool PageFramer::dropGarbage(Framed natural)
{
    const bool inPlace = _window.begin(0) > 0;
    if (natural != Framed::noCapture || (!inPlace && (_window.count() < 2 || mayBeEarlyContinuation())))
        return false;
    lose(std::min(nextCapture(1, _window.count()), _window.frontBytes()));
    return true;
}

bool PageFramer::mayBeEarlyContinuation()
{
    _variant = _natural;
    std::swap(_variant.at[0], _variant.at[1]);
    return frameAt(_variant, 0) == Framed::missing;
}

// A later page that checks, begun before the newest datagram: the bytes in
// front of it are lost.
bool PageFramer::giveUpFront()
{
    const std::size_t end = _settling ? _window.count() : _window.count() - 1;
    for (std::size_t at = nextCapture(1, end); at != none && _ordersLeft-- > 0;
         at = nextCapture(at + 1, end)) {
        if (frameAt(_natural, at) == Framed::good) {
            lose(at);
            take(true);
            return true;
        }
    }
    return false;
}

// The first place at or after `from`, in arrival order and within the first
// `end` datagrams, where a page may begin: a capture, or the last bytes of
// the window when they may begin one. none when there is no such place.
std::size_t PageFramer::nextCapture(std::size_t from, std::size_t end) const
{
    std::size_t before = 0; // position of slot i's first unframed byte
    for (std::size_t i = 0; i < end; ++i) {
        const DatagramWindow::Slot& s = _window.slot(i);
        const unsigned char* d = _window.data(s);
        const std::size_t b = _window.begin(i);
        for (std::size_t k = b + (from > before ? from - before : 0); k < s.size; ++k) {
            const void* hit = std::memchr(d + k, 'O', s.size - k);
            if (!hit)
                break;
            k = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - d);
            unsigned char four[captureLength];
            const std::size_t got = gather(_natural, before + k - b, captureLength, four);
            if (got < captureLength ? std::memcmp(four, "OggS", got) == 0 : PageFields::isCapture(four))
                return before + k - b;
        }
        before += s.size - b;
    }
    return none;
}

void PageFramer::take(bool afterLoss)
{
    PageRoom* const lent = _inRoom ? _room : nullptr;
    if (lent)
        lent->lend(_length);
    _order.push(_page, _length, afterLoss || _lostBytes > 0);
    if (lent)
        lent->returned();
    _window.consume(_length);
    _lostBytes = 0;
}

void PageFramer::lose(std::size_t n)
{
    _window.consume(n);
    _lostBytes += n;
}

void PageFramer::identity(Order& o, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        o.at[i] = static_cast<std::uint16_t>(i);
    o.n = n;
}

} // namespace Audio
