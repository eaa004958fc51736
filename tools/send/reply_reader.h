#pragma once

#include <deque>
#include <string>

namespace Send {

struct Reply {
    enum class Kind {
        UdpReady, // value: the port
        InitTransmissionFailed,
        Alive, // value: the number
        ReadError,
        Malformed, // "udpReady" or "alive" with a bad argument
        Unknown,
    };
    Kind kind = Kind::Unknown;
    long value = 0;
    std::string text; // the word(s) as received
};

// Turns the receiver's byte stream into replies, across read boundaries: a
// word is complete only once whitespace follows it, so a reply split over
// two reads is joined, and one read may hold several replies. "udpReady"
// and "alive" take the next word as their argument.
class ReplyReader {
public:
    void feed(const std::string& chunk);
    // The next complete reply, or false until more bytes arrive.
    bool next(Reply& reply);

private:
    std::string _partial;
    std::deque<std::string> _words;
};

} // namespace Send
