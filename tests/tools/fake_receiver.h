#pragma once

// A stand-in for the receiver's network side, for the sender's tests: a
// loopback TCP control port and a UDP port, both on free ports, served by a
// thread of its own. It answers "startTransmission" with "udpReady <port> ",
// fails the first attempts with "initTransmissionFailed " after their first
// datagram, answers "startTransmissionAgain" while attempts are left, and
// "alive n" with "alive n ". It records what each attempt received.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ToolTest {

class FakeReceiver {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        int failFirst = 0;          // attempts answered with "initTransmissionFailed"
        int maxAttempts = 5;        // later "startTransmissionAgain" words are ignored
        bool announce = true;       // false: never says "udpReady"
        bool splitReplies = false;  // replies leave in pieces of 3 bytes
        bool answerAlive = true;
        long aliveOffset = 0;       // added to the number in "alive" replies
        size_t closeAfterBytes = 0; // closes the control connection once this much arrived
    };

    struct Attempt {
        std::vector<unsigned char> bytes;
        size_t largestDatagram = 0;
        Clock::time_point announced;
        Clock::time_point lastDatagram;
    };

    explicit FakeReceiver(const Options& options)
        : _options(options)
    {
        _listen = openSocket(SOCK_STREAM, _tcpPort);
        if (::listen(_listen, 4) != 0)
            throw std::runtime_error("listen");
        _udp = openSocket(SOCK_DGRAM, _udpPort);
        _thread = std::thread([this] { serve(); });
    }

    ~FakeReceiver()
    {
        _stop = true;
        _thread.join();
        if (_conn >= 0)
            ::close(_conn);
        ::close(_listen);
        ::close(_udp);
    }

    FakeReceiver(const FakeReceiver&) = delete;
    FakeReceiver& operator=(const FakeReceiver&) = delete;

    int tcpPort() const { return _tcpPort; }
    int udpPort() const { return _udpPort; }

    std::vector<Attempt> attempts() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _attempts;
    }
    std::vector<std::string> words() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _words;
    }
    int count(const std::string& word) const
    {
        int n = 0;
        for (const std::string& w : words())
            n += w == word;
        return n;
    }
    bool senderClosed() const { return _senderClosed; }

private:
    static int openSocket(int type, int& port)
    {
        int fd = ::socket(AF_INET, type, 0);
        if (fd < 0)
            throw std::runtime_error("socket");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("bind");
        port = ntohs(addr.sin_port);
        return fd;
    }

    void reply(const std::string& text) { _out += text + " "; }

    void flush()
    {
        if (_conn < 0 || _out.empty())
            return;
        size_t step = _options.splitReplies ? 3 : _out.size();
        for (size_t at = 0; at < _out.size(); at += step) {
            if (::send(_conn, _out.data() + at, std::min(step, _out.size() - at), MSG_NOSIGNAL) < 0)
                break;
            if (_options.splitReplies)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        _out.clear();
    }

    void startAttempt()
    {
        // Like the receiver: datagrams already waiting are dropped.
        char buf[65536];
        while (::recv(_udp, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _attempts.push_back(Attempt());
            _attempts.back().announced = Clock::now();
        }
        _receiving = true;
        _failed = false;
        reply("udpReady " + std::to_string(_udpPort));
    }

    void onWord(const std::string& word, const std::string& arg)
    {
        if (word == "startTransmission") {
            if (_options.announce && attemptCount() == 0)
                startAttempt();
        } else if (word == "startTransmissionAgain") {
            if (_failed && attemptCount() < static_cast<size_t>(_options.maxAttempts))
                startAttempt();
        } else if (word == "alive") {
            if (_options.answerAlive)
                reply("alive " + std::to_string(std::atol(arg.c_str()) + _options.aliveOffset));
        }
    }

    size_t attemptCount() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _attempts.size();
    }

    void readControl()
    {
        char buf[512];
        ssize_t n = ::recv(_conn, buf, sizeof buf, 0);
        if (n <= 0) {
            _senderClosed = true;
            ::close(_conn);
            _conn = -1;
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (std::isspace(static_cast<unsigned char>(buf[i]))) {
                if (!_partial.empty())
                    _pending.push_back(_partial);
                _partial.clear();
            } else {
                _partial += buf[i];
            }
        }
        while (!_pending.empty()) {
            if (_pending[0] == "alive" && _pending.size() < 2)
                break;
            std::string word = _pending[0];
            std::string arg = word == "alive" ? _pending[1] : "";
            {
                std::lock_guard<std::mutex> lock(_mutex);
                _words.push_back(word);
            }
            _pending.erase(_pending.begin(), _pending.begin() + (word == "alive" ? 2 : 1));
            onWord(word, arg);
        }
    }

    void readDatagram()
    {
        unsigned char buf[65536];
        ssize_t n = ::recv(_udp, buf, sizeof buf, 0);
        if (n <= 0 || !_receiving)
            return;
        size_t received;
        int index;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            Attempt& a = _attempts.back();
            a.bytes.insert(a.bytes.end(), buf, buf + n);
            a.largestDatagram = std::max(a.largestDatagram, static_cast<size_t>(n));
            a.lastDatagram = Clock::now();
            received = a.bytes.size();
            index = static_cast<int>(_attempts.size());
        }
        if (index <= _options.failFirst) {
            _receiving = false;
            _failed = true;
            reply("initTransmissionFailed");
        }
        if (_options.closeAfterBytes > 0 && received >= _options.closeAfterBytes && _conn >= 0) {
            ::close(_conn);
            _conn = -1;
            _receiving = false;
        }
    }

    void serve()
    {
        Clock::time_point nextFlush = Clock::now();
        while (!_stop) {
            pollfd fds[2];
            fds[0] = {_conn >= 0 ? _conn : _listen, POLLIN, 0};
            fds[1] = {_udp, POLLIN, 0};
            if (::poll(fds, 2, 10) < 0)
                break;
            if (fds[0].revents) {
                if (_conn < 0)
                    _conn = ::accept(_listen, nullptr, nullptr);
                else
                    readControl();
            }
            if (fds[1].revents & POLLIN)
                readDatagram();
            // Replies leave in cycles, as the receiver's do, so that
            // several may arrive joined.
            if (Clock::now() >= nextFlush) {
                flush();
                nextFlush = Clock::now() + std::chrono::milliseconds(100);
            }
        }
    }

    Options _options;
    int _listen = -1;
    int _udp = -1;
    int _conn = -1;
    int _tcpPort = 0;
    int _udpPort = 0;
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

} // namespace ToolTest
