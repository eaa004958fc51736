#include "send/reply_reader.h"

#include "utils/protocol.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace Send {

namespace {

// Nothing the receiver says is this long; a longer run of non-whitespace is
// handed on as an unknown word rather than kept growing.
const size_t maxWord = 256;

bool parseLong(const std::string& word, long lo, long hi, long& value)
{
    if (word.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(word.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    value = v;
    return true;
}

} // namespace

void ReplyReader::feed(const std::string& chunk)
{
    for (char c : chunk) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!_partial.empty())
                _words.push_back(std::move(_partial));
            _partial.clear();
        } else {
            _partial += c;
            if (_partial.size() >= maxWord) {
                _words.push_back(std::move(_partial));
                _partial.clear();
            }
        }
    }
}

bool ReplyReader::next(Reply& reply)
{
    if (_words.empty())
        return false;
    const std::string& word = _words.front();
    reply = Reply();
    if (word == Utils::wordUdpReady || word == Utils::wordAlive) {
        if (_words.size() < 2)
            return false;
        const std::string& arg = _words[1];
        bool udp = word == Utils::wordUdpReady;
        long value = 0;
        if (udp ? parseLong(arg, 1, 65535, value) : parseLong(arg, INT_MIN, INT_MAX, value)) {
            reply.kind = udp ? Reply::Kind::UdpReady : Reply::Kind::Alive;
            reply.value = value;
            reply.text = word + " " + arg;
            _words.pop_front();
            _words.pop_front();
            return true;
        }
        // The next word is left for its own turn: it may be a reply.
        reply.kind = Reply::Kind::Malformed;
        reply.text = word;
        _words.pop_front();
        return true;
    }
    reply.text = word;
    if (word == Utils::wordInitFailed)
        reply.kind = Reply::Kind::InitTransmissionFailed;
    else if (word == Utils::wordReadError)
        reply.kind = Reply::Kind::ReadError;
    else
        reply.kind = Reply::Kind::Unknown;
    _words.pop_front();
    return true;
}

} // namespace Send
