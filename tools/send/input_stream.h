#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Send {

// The bytes of the stream to send, from a file or from standard input ("-").
// The stream can be read again from its beginning: a file is seeked, while
// the bytes of a pipe are kept as they are read and replayed afterwards.
class InputStream {
public:
    // Throws std::runtime_error when the path cannot be opened.
    explicit InputStream(const std::string& path);
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // Up to size bytes; 0 at the end. Throws std::runtime_error on a read
    // error.
    size_t read(unsigned char* buf, size_t size);
    void rewind();

    bool seekable() const { return _seekable; }
    const std::string& name() const { return _name; }

private:
    std::string _name;
    int _fd = -1;
    bool _ownsFd = false;
    bool _seekable = false;
    long long _start = 0; // offset of the stream's first byte in a seekable input
    std::vector<unsigned char> _kept; // everything read so far, when not seekable
    size_t _replayPos = 0;
};

} // namespace Send
