#include "test_helpers/temp_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace TestHelpers {

TempFile::TempFile(const Bytes& bytes) : _bytes(bytes)
{
    char name[] = "/tmp/veldrane-test-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary file");
    _path = name;
    const bool written =
        bytes.empty() || ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    if (!written) {
        std::remove(name);
        throw std::runtime_error("cannot write a temporary file");
    }
}

TempFile::~TempFile()
{
    std::remove(_path.c_str());
}

} // namespace TestHelpers
