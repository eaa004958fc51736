#include "server/wordsplitter.h"

namespace Server {

bool WordSplitter::isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

std::string WordSplitter::shown(const Word& word)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const char c : word.text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            out += c;
        } else {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        }
    }
    if (word.cut)
        out += "...";
    return out;
}

void WordSplitter::read(const std::string& chunk, std::vector<Word>& words)
{
    for (const char c : chunk) {
        if (isSeparator(c))
            finish(words);
        else
            add(c);
    }
}

void WordSplitter::pause(std::vector<Word>& words)
{
    finish(words);
}

void WordSplitter::add(char c)
{
    _open = true;
    if (_word.text.size() < keptBytes)
        _word.text += c;
    else
        _word.cut = true;
}

void WordSplitter::finish(std::vector<Word>& words)
{
    if (!_open)
        return;
    words.push_back(std::move(_word));
    _word = Word();
    _open = false;
}

} // namespace Server
