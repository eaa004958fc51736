#include "utils/console.h"

#include <atomic>
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

namespace {
std::atomic<bool> traceShown{true};
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
