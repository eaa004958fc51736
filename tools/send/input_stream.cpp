#include "send/input_stream.h"

#include "utils/console.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace Send {

InputStream::InputStream(const std::string& path, size_t window)
    : _name(path == "-" ? "standard input" : path), _window(window)
{
    if (path == "-") {
        _fd = 0;
    } else {
        _fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (_fd < 0)
            throw std::runtime_error("cannot open " + path + ": " + Utils::systemError(errno));
        _ownsFd = true;
    }
    // Pipes and terminals cannot seek; regular files (also as standard
    // input) can.
    off_t start = ::lseek(_fd, 0, SEEK_CUR);
    _seekable = start >= 0;
    _keeping = !_seekable;
    _start = start;
}

InputStream::~InputStream()
{
    if (_ownsFd)
        ::close(_fd);
}

size_t InputStream::read(unsigned char* buf, size_t size)
{
    if (_keeping && _replayPos < _kept.size()) {
        size_t n = std::min(size, _kept.size() - _replayPos);
        std::memcpy(buf, _kept.data() + _replayPos, n);
        _replayPos += n;
        return n;
    }
    ssize_t n = 0;
    do {
        n = ::read(_fd, buf, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        throw std::runtime_error("cannot read " + _name + ": " + Utils::systemError(errno));
    if (_keeping && _kept.size() + static_cast<size_t>(n) > _window) {
        _keeping = false;
        std::vector<unsigned char>().swap(_kept);
        _replayPos = 0;
    } else if (_keeping) {
        _kept.insert(_kept.end(), buf, buf + n);
        _replayPos = _kept.size();
    }
    return static_cast<size_t>(n);
}

void InputStream::rewind()
{
    if (_seekable) {
        if (::lseek(_fd, static_cast<off_t>(_start), SEEK_SET) < 0)
            throw std::runtime_error("cannot rewind " + _name + ": " + Utils::systemError(errno));
    } else if (_keeping) {
        _replayPos = 0;
    } else {
        throw std::logic_error("cannot rewind " + _name + " past its first bytes");
    }
}

} // namespace Send
