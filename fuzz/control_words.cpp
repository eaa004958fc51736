// The control channel's parser against a plain reference. The first eight
// bytes of an input choose how its remaining bytes are cut into reads of 1
// to 256 bytes, and after which reads a pause comes; the words and
// commands that come out must be those that a splitter of the whole
// stream finds.
#include "server/controlparser.h"
#include "server/wordsplitter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using Server::Command;
using Server::ControlParser;
using Server::Word;
using Server::WordSplitter;

namespace {

constexpr size_t readLimit = 256;

struct Read {
    std::string bytes;
    bool pauseAfter;
};

// splitmix64: the cuts are a function of the input, so a crash reproduces.
uint64_t next(uint64_t& state)
{
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

std::vector<Read> cut(const uint8_t* data, size_t size)
{
    uint64_t seed = 0;
    const size_t head = size < 8 ? size : 8;
    std::memcpy(&seed, data, head);
    std::vector<Read> reads;
    size_t at = head;
    while (at < size) {
        const uint64_t r = next(seed);
        // Half of the reads full, as in a flood; the others any size.
        size_t n = (r & 1) ? readLimit : 1 + (r >> 8) % readLimit;
        if (n > size - at)
            n = size - at;
        const bool pause = ((r >> 1) & 3) == 0;
        reads.push_back({std::string(reinterpret_cast<const char*>(data + at), n), pause});
        at += n;
    }
    return reads;
}

// The reference: words of the whole stream, ended by separators and by
// pauses; a boundary token marks each pause.
struct Token {
    bool boundary;
    Word word;
};

std::vector<Token> referenceTokens(const std::vector<Read>& reads)
{
    std::vector<Token> tokens;
    std::string word;
    auto endWord = [&] {
        if (word.empty())
            return;
        Word w;
        w.cut = word.size() > WordSplitter::keptBytes;
        w.text = word.substr(0, WordSplitter::keptBytes);
        tokens.push_back({false, w});
        word.clear();
    };
    for (size_t i = 0; i < reads.size(); ++i) {
        for (const char c : reads[i].bytes) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0')
                endWord();
            else
                word += c;
        }
        if (reads[i].pauseAfter || i + 1 == reads.size()) {
            endWord();
            tokens.push_back({true, Word()});
        }
    }
    return tokens;
}

// The number at the start of text, as the reference reads it: sign and
// digits collected first, then converted with the standard library.
bool referenceNumber(const std::string& text, int32_t& value, size_t& used)
{
    size_t p = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    const size_t digitsStart = p;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9')
        ++p;
    if (p == digitsStart)
        return false;
    std::string digits = text.substr(digitsStart, p - digitsStart);
    digits.erase(0, digits.find_first_not_of('0'));
    const bool negative = text[0] == '-';
    long long v = digits.size() > 12 ? 9999999999999LL : (digits.empty() ? 0 : std::stoll(digits));
    if (negative)
        v = -v;
    if (v > INT32_MAX)
        v = INT32_MAX;
    if (v < INT32_MIN)
        v = INT32_MIN;
    value = static_cast<int32_t>(v);
    used = p;
    return true;
}

std::vector<Command> referenceCommands(const std::vector<Token>& tokens)
{
    std::vector<Command> commands;
    bool aliveWaiting = false;
    for (const Token& token : tokens) {
        if (token.boundary) {
            if (aliveWaiting)
                commands.push_back({Command::Kind::Alive, 0, Word()});
            aliveWaiting = false;
            continue;
        }
        Word w = token.word;
        if (aliveWaiting) {
            aliveWaiting = false;
            int32_t value = 0;
            size_t used = 0;
            const bool number = referenceNumber(w.text, value, used);
            commands.push_back({Command::Kind::Alive, number ? value : 0, Word()});
            if (number && used == w.text.size())
                continue;
            if (number)
                w.text = w.text.substr(used);
        }
        if (!w.cut && w.text == "alive")
            aliveWaiting = true;
        else if (!w.cut && w.text == "startTransmission")
            commands.push_back({Command::Kind::Start, 0, Word()});
        else if (!w.cut && w.text == "startTransmissionAgain")
            commands.push_back({Command::Kind::Again, 0, Word()});
        else
            commands.push_back({Command::Kind::Unknown, 0, w});
    }
    return commands;
}

bool same(const Word& a, const Word& b)
{
    return a.text == b.text && a.cut == b.cut;
}

bool same(const Command& a, const Command& b)
{
    return a.kind == b.kind && a.value == b.value && same(a.word, b.word);
}

void checkShown(const Word& word)
{
    const std::string shown = WordSplitter::shown(word);
    if (shown.size() > WordSplitter::keptBytes * 4 + 3)
        std::abort();
    for (const char c : shown)
        if (c < 0x20 || c > 0x7e)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<Read> reads = cut(data, size);
    const std::vector<Token> tokens = referenceTokens(reads);

    WordSplitter splitter;
    ControlParser parser;
    std::vector<Word> words;
    std::vector<Command> commands;
    for (const Read& read : reads) {
        splitter.read(read.bytes, words);
        parser.read(read.bytes, commands);
        if (read.pauseAfter || &read == &reads.back()) {
            splitter.pause(words);
            // As the server does: a pause is reported only when waited for.
            if (parser.waiting())
                parser.pause(commands);
        }
    }
    if (splitter.wordOpen() || parser.waiting())
        std::abort();

    std::vector<Word> expectedWords;
    for (const Token& token : tokens)
        if (!token.boundary)
            expectedWords.push_back(token.word);
    if (words.size() != expectedWords.size())
        std::abort();
    for (size_t i = 0; i < words.size(); ++i) {
        if (!same(words[i], expectedWords[i]))
            std::abort();
        checkShown(words[i]);
    }

    const std::vector<Command> expected = referenceCommands(tokens);
    if (commands.size() != expected.size())
        std::abort();
    for (size_t i = 0; i < commands.size(); ++i)
        if (!same(commands[i], expected[i]))
            std::abort();
    return 0;
}
