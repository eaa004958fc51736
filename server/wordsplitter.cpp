#include "server/wordsplitter.h"

#include "utils/console.h"

namespace Server {

bool WordSplitter::isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

std::string WordSplitter::shown(const Word& word)
{
    return Utils::escaped(word.text) + (word.cut ? "..." : "");
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
