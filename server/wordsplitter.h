#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Server {

// One word of the control channel. Only its first keptBytes bytes are
// kept: no command is longer, and a controller must not be able to make
// the receiver hold an endless word.
struct Word {
    std::string text;
    bool cut = false; // the word was longer than text
};

// Cuts the bytes of the control channel into words. Separators are the
// whitespace characters and the zero byte. A read that filled the read
// limit may end inside a word; that word is finished by the next read,
// unless a pause (a wait that found nothing) comes first. A shorter read
// always ends its last word.
class WordSplitter {
public:
    static constexpr size_t readLimit = 256;
    static constexpr size_t keptBytes = 64;

    static bool isSeparator(char c);
    // The word as the console shows it: bytes outside printable ASCII as
    // \xNN, and "..." after a cut word.
    static std::string shown(const Word& word);

    // Appends the words that this read finishes to words.
    void read(const std::string& chunk, std::vector<Word>& words);
    // Appends the word a full read left open, if any.
    void pause(std::vector<Word>& words);
    bool wordOpen() const { return _open; }

private:
    void add(char c);
    void finish(std::vector<Word>& words);

    Word _word;
    bool _open = false;
};

} // namespace Server
