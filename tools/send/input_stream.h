#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Send {

// The bytes of the stream to send, from a file or from standard input ("-").
// A file can be read again from its beginning at any time. A pipe can while
// its first `window` bytes last: they are kept as they are read and
// replayed; past them nothing is kept, so that a live input of any length
// holds bounded memory.
class InputStream {
public:
    // About a minute of a typical stream: a retry early in a live stream
    // still sends it from its beginning.
    static constexpr size_t defaultWindow = 1 << 20;

    // Throws std::runtime_error when the path cannot be opened.
    explicit InputStream(const std::string& path, size_t window = defaultWindow);
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // Up to size bytes; 0 at the end. Throws std::runtime_error on a read
    // error.
    size_t read(unsigned char* buf, size_t size);
    // Up to size of the first bytes, left in the input for the next read,
    // and for whoever opens the same name again: a named pipe gives them
    // to a copy (tee) rather than to us. Waits until size bytes have come
    // or the writer has gone; 0 where they cannot be had without taking
    // them. Before the first read only.
    size_t peek(unsigned char* buf, size_t size);
    // Back to the first byte; only while rewindable(), else std::logic_error.
    void rewind();

    bool seekable() const { return _seekable; }
    bool rewindable() const { return _seekable || _keeping; }
    size_t keptBytes() const { return _kept.size(); }
    const std::string& name() const { return _name; }

private:
    size_t peekPipe(unsigned char* buf, size_t size);
    size_t readFull(unsigned char* buf, size_t size);

    std::string _name;
    int _fd = -1;
    bool _ownsFd = false;
    bool _seekable = false;
    long long _start = 0; // offset of the stream's first byte in a seekable input
    size_t _window;
    bool _keeping = false;            // a pipe still within its window
    std::vector<unsigned char> _kept; // everything read so far, while _keeping
    size_t _replayPos = 0;
};

} // namespace Send
