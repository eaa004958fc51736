#pragma once

#include "test_helpers/ogg_maker.h"

#include <string>

namespace TestHelpers {

// A file in /tmp holding the given bytes, removed by the destructor.
// Throws std::runtime_error when it cannot be written.
class TempFile {
public:
    explicit TempFile(const Bytes& bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return _path; }
    const Bytes& bytes() const { return _bytes; }

private:
    Bytes _bytes;
    std::string _path;
};

} // namespace TestHelpers
