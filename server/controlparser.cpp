#include "server/controlparser.h"

#include "utils/protocol.h"

#include <algorithm>
#include <limits>

namespace Server {

namespace {

// The number at the start of text: an optional sign, then at least one
// decimal digit. Returns false when there is none; otherwise value is
// clamped to the signed 32-bit range and used says how many bytes it took.
bool leadingNumber(const std::string& text, int32_t& value, size_t& used)
{
    size_t p = 0;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || text[p] < '0' || text[p] > '9')
        return false;
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        magnitude = std::min<int64_t>(magnitude * 10 + (text[p] - '0'), limit);
        ++p;
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    used = p;
    return true;
}

} // namespace

void ControlParser::read(const std::string& chunk, std::vector<Command>& commands)
{
    _splitter.read(chunk, _words);
    interpret(_words, commands);
}

void ControlParser::pause(std::vector<Command>& commands)
{
    _splitter.pause(_words);
    interpret(_words, commands);
    if (_aliveWaiting)
        answerAlive(0, commands);
}

void ControlParser::interpret(std::vector<Word>& words, std::vector<Command>& commands)
{
    for (Word& word : words)
        interpretWord(std::move(word), commands);
    words.clear();
}

void ControlParser::interpretWord(Word word, std::vector<Command>& commands)
{
    if (_aliveWaiting) {
        int32_t value = 0;
        size_t used = 0;
        if (!leadingNumber(word.text, value, used)) {
            answerAlive(0, commands);
        } else {
            answerAlive(value, commands);
            // Digits past the kept bytes of a cut word are not seen; what
            // the kept bytes hold after the number is a word of its own.
            if (used == word.text.size())
                return;
            word.text.erase(0, used);
        }
    }
    // A cut word is never a command, whatever its kept bytes spell.
    const std::string& text = word.cut ? std::string() : word.text;
    if (text == Utils::wordStart) {
        commands.push_back({Command::Kind::Start, 0, Word()});
    } else if (text == Utils::wordStartAgain) {
        commands.push_back({Command::Kind::Again, 0, Word()});
    } else if (text == Utils::wordAlive) {
        _aliveWaiting = true;
    } else {
        commands.push_back({Command::Kind::Unknown, 0, std::move(word)});
    }
}

void ControlParser::answerAlive(int32_t value, std::vector<Command>& commands)
{
    _aliveWaiting = false;
    commands.push_back({Command::Kind::Alive, value, Word()});
}

} // namespace Server
