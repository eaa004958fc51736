#pragma once

#include "utils/protocol.h"

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
// whitespace characters and the zero byte. A word ends at a separator or
// at a pause (a wait for bytes that found none); where the reads of the
// connection happen to end does not matter, since a controller's bytes
// reach us cut at arbitrary places.
class WordSplitter {
public:
    static constexpr size_t keptBytes = Utils::maxWordBytes;

    static bool isSeparator(char c);
    // The word as the console shows it: bytes outside printable ASCII as
    // \xNN, and "..." after a cut word.
    static std::string shown(const Word& word);

    // Appends the words that these bytes finish to words.
    void read(const std::string& chunk, std::vector<Word>& words);
    // Appends the word left open by the reads before, if any.
    void pause(std::vector<Word>& words);
    bool wordOpen() const { return _open; }

private:
    void add(char c);
    void finish(std::vector<Word>& words);

    Word _word;
    bool _open = false;
};

} // namespace Server
