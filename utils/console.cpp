#include "utils/console.h"

#include <atomic>
#include <cstdio>
#include <system_error>

namespace Utils {

void printOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printErr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
}

namespace {
std::atomic<bool> traceShown{true};
}

std::string systemError(int error)
{
    return std::generic_category().message(error);
}

void printTrace(const std::string& text)
{
    if (traceShown)
        printOut(text);
}

void showTrace(bool shown)
{
    traceShown = shown;
}

void lineBufferConsole()
{
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

} // namespace Utils
