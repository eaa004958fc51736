#include "audio/intake/page_store.h"

#include "audio/intake/page_fields.h"

#include <algorithm>
#include <cstring>

namespace Audio {

namespace {

constexpr std::size_t moveAfter = std::size_t{64} * 1024;

} // namespace

void PageStore::clear()
{
    _read = 0;
    _end = 0;
    _lent = 0;
    _lentAccepted = false;
    _aside.clear();
    _asideBefore = 0;
}

std::size_t PageStore::read(unsigned char* dst, std::size_t size)
{
    const std::size_t n = std::min(size, held());
    std::memcpy(dst, _bytes.data() + _read, n);
    _read += n;
    if (_read == _end && _lent == 0)
        _read = _end = 0;
    return n;
}

void PageStore::append(const unsigned char* page, std::size_t length)
{
    if (_lent > 0) {
        if (page == _bytes.data() + _end && length == _lent && !_lentAccepted) {
            _lentAccepted = true;
            _asideBefore = _aside.size();
        } else {
            _aside.insert(_aside.end(), page, page + length);
        }
        return;
    }
    makeRoom(length, 0);
    std::memcpy(_bytes.data() + _end, page, length);
    _end += length;
}

unsigned char* PageStore::room()
{
    makeRoom(PageFields::maxPage, 0);
    return _bytes.data() + _end;
}

void PageStore::lend(std::size_t length)
{
    _lent = length;
    _lentAccepted = false;
    _asideBefore = 0;
}

// The page lent, if accepted, and what was kept aside, in the order they
// were accepted.
void PageStore::returned()
{
    const std::size_t lent = _lentAccepted ? _lent : 0;
    _lent = 0;
    _lentAccepted = false;
    if (!_aside.empty()) {
        makeRoom(lent + _aside.size(), lent);
        unsigned char* at = _bytes.data() + _end;
        std::memmove(at + _asideBefore, at, lent);
        std::memcpy(at, _aside.data(), _asideBefore);
        std::memcpy(at + _asideBefore + lent, _aside.data() + _asideBefore, _aside.size() - _asideBefore);
        _end += _aside.size();
        _aside.clear();
    }
    _end += lent;
    _asideBefore = 0;
}

// Room for `beyondEnd` bytes after the accepted ones, of which the first
// `keep` hold a page lent and must be kept. The unread bytes move to the
// front once as many have been read, or 64 KiB, so that a decoder that
// reads slowly behind many bytes does not have them moved at every page;
// otherwise the buffer grows.
void PageStore::makeRoom(std::size_t beyondEnd, std::size_t keep)
{
    if (_end + beyondEnd <= _bytes.size())
        return;
    const std::size_t unread = held() + keep;
    if (_read > 0 && (_read >= unread || _read >= moveAfter)) {
        std::memmove(_bytes.data(), _bytes.data() + _read, unread);
        _end -= _read;
        _read = 0;
    }
    if (_end + beyondEnd > _bytes.size())
        _bytes.resize(std::max(2 * _bytes.size(), _end + beyondEnd));
}

} // namespace Audio
