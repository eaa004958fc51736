#include "utils/console.h"

#include <cstdio>

namespace Utils {

void printOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printErr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void lineBufferConsole()
{
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

} // namespace Utils
