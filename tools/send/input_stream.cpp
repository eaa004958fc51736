#include "send/input_stream.h"

#include "send/send_errors.h"
#include "utils/console.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
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
            throw UnreadableError("cannot open " + path + ": " + Utils::systemError(errno));
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
        throw UnreadableError("cannot read " + _name + ": " + Utils::systemError(errno));
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

size_t InputStream::peek(unsigned char* buf, size_t size)
{
    if (_seekable) {
        const ssize_t n = ::pread(_fd, buf, size, static_cast<off_t>(_start));
        if (n < 0)
            throw UnreadableError("cannot read " + _name + ": " + Utils::systemError(errno));
        return static_cast<size_t>(n);
    }
    // Standard input is opened by no one else: its first bytes are kept
    // and read again.
    if (!_ownsFd) {
        const size_t n = readFull(buf, size);
        rewind();
        return n;
    }
    return peekPipe(buf, size);
}

size_t InputStream::readFull(unsigned char* buf, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const size_t n = read(buf + done, size - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

size_t InputStream::peekPipe(unsigned char* buf, size_t size)
{
    int waiting = 0;
    for (;;) {
        pollfd p{_fd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR)
            return 0;
        if (::ioctl(_fd, FIONREAD, &waiting) != 0)
            return 0;
        if (static_cast<size_t>(waiting) >= size || (p.revents & POLLHUP) != 0)
            break;
        // A writer that has begun but not given the first page's start yet.
        ::usleep(10000);
    }
    int copy[2];
    if (::pipe2(copy, O_CLOEXEC) != 0)
        return 0;
    const ssize_t teed = ::tee(_fd, copy[1], size, 0);
    ::close(copy[1]);
    size_t n = 0;
    while (teed > 0 && n < static_cast<size_t>(teed)) {
        const ssize_t r = ::read(copy[0], buf + n, static_cast<size_t>(teed) - n);
        if (r <= 0)
            break;
        n += static_cast<size_t>(r);
    }
    ::close(copy[0]);
    return n;
}

void InputStream::rewind()
{
    if (_seekable) {
        if (::lseek(_fd, static_cast<off_t>(_start), SEEK_SET) < 0)
            throw UnreadableError("cannot rewind " + _name + ": " + Utils::systemError(errno));
    } else if (_keeping) {
        _replayPos = 0;
    } else {
        throw std::logic_error("cannot rewind " + _name + " past its first bytes");
    }
}

} // namespace Send
