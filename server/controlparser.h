#pragma once

#include "server/wordsplitter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Server {

// What a controller's words ask for, in the order it sent them.
struct Command {
    enum class Kind { Start, Again, Alive, Unknown };
    Kind kind = Kind::Unknown;
    int32_t value = 0; // Alive: the number to answer with
    Word word;         // Unknown: the word
};

// Turns the reads of the control channel into commands. "alive" takes the
// number that begins the next word: an optional sign and decimal digits,
// clamped to the signed 32-bit range; what follows the digits in that word
// is read as a word of its own, and a next word without digits is answered
// with 0 and read as a word of its own. A pause before the next word
// answers a waiting "alive" with 0.
class ControlParser {
public:
    // Append the commands that these bytes, or this pause, complete.
    void read(const std::string& chunk, std::vector<Command>& commands);
    void pause(std::vector<Command>& commands);
    // Whether a later read may still complete something: a pause is worth
    // reporting only then.
    bool waiting() const { return _aliveWaiting || _splitter.wordOpen(); }

private:
    void interpret(std::vector<Word>& words, std::vector<Command>& commands);
    void interpretWord(Word word, std::vector<Command>& commands);
    void answerAlive(int32_t value, std::vector<Command>& commands);

    WordSplitter _splitter;
    std::vector<Word> _words; // scratch, kept for its capacity
    bool _aliveWaiting = false;
};

} // namespace Server
