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

std::string escaped(const std::string& bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            out += c;
        } else {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        }
    }
    return out;
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
