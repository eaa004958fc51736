#pragma once

#include "test_helpers/loopback.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TestHelpers {

// A stand-in for the receiver's network side, for the sender's tests: a
// loopback TCP control port and a UDP port, both on free ports, served by a
// thread of its own. It answers "startTransmission" with "udpReady <port> ",
// fails the first attempts with "initTransmissionFailed " after their first
// datagram, answers "startTransmissionAgain" while attempts are left, and
// "alive n" with "alive n ". It records what each attempt received.
class FakeReceiver {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        int failFirst = 0;         // attempts answered with "initTransmissionFailed"
        int maxAttempts = 5;       // later "startTransmissionAgain" words are ignored
        bool announce = true;      // false: never says "udpReady"
        bool splitReplies = false; // replies leave in pieces of 3 bytes
        bool answerAlive = true;
        long aliveOffset = 0;       // added to the number in "alive" replies
        size_t closeAfterBytes = 0; // closes the control connection once this much arrived
        std::string before;         // sent ahead of each "udpReady"
    };

    struct Attempt {
        std::vector<unsigned char> bytes;
        size_t largestDatagram = 0;
        std::vector<size_t> datagramSizes; // in the order they came
        Clock::time_point announced;
        Clock::time_point lastDatagram;
    };

    explicit FakeReceiver(const Options& options);
    ~FakeReceiver(); // stops serving and joins
    FakeReceiver(const FakeReceiver&) = delete;
    FakeReceiver& operator=(const FakeReceiver&) = delete;

    int tcpPort() const { return _listen.port(); }
    int udpPort() const { return _udp.port(); }

    // Callable from any thread while it serves.
    std::vector<Attempt> attempts() const;
    std::vector<std::string> words() const;
    int count(const std::string& word) const;
    bool senderClosed() const { return _senderClosed; }

private:
    // Server thread only, from here on.
    void serve();
    void readControl();
    void readDatagram();
    void onWord(const std::string& word, const std::string& arg);
    void startAttempt();
    size_t attemptCount() const;
    void reply(const std::string& text) { _out += text + " "; }
    void flush();
    void closeConnection();

    Options _options;
    LoopbackSocket _listen{LoopbackSocket::Kind::Tcp};
    LoopbackSocket _udp{LoopbackSocket::Kind::Udp};
    int _conn = -1;
    std::thread _thread;
    std::atomic<bool> _stop{false};
    std::atomic<bool> _senderClosed{false};

    // Server thread only.
    std::string _out;
    std::string _partial;
    std::vector<std::string> _pending;
    bool _receiving = false;
    bool _failed = false;

    mutable std::mutex _mutex; // guards _attempts and _words
    std::vector<Attempt> _attempts;
    std::vector<std::string> _words;
};

} // namespace TestHelpers
