#include "test_helpers/fake_receiver.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace TestHelpers {

FakeReceiver::FakeReceiver(const Options& options) : _options(options)
{
    if (!_listen.bound() || !_udp.bound() || !_listen.listen())
        throw std::runtime_error("fake receiver: cannot open its ports");
    _thread = std::thread([this] { serve(); });
}

FakeReceiver::~FakeReceiver()
{
    _stop = true;
    _thread.join();
    closeConnection();
}

std::vector<FakeReceiver::Attempt> FakeReceiver::attempts() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _attempts;
}

std::vector<std::string> FakeReceiver::words() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _words;
}

int FakeReceiver::count(const std::string& word) const
{
    int n = 0;
    for (const std::string& w : words())
        n += w == word;
    return n;
}

void FakeReceiver::closeConnection()
{
    if (_conn >= 0)
        ::close(_conn);
    _conn = -1;
}

void FakeReceiver::flush()
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

void FakeReceiver::startAttempt()
{
    // Like the receiver: datagrams already waiting are dropped.
    char buf[65536];
    while (::recv(_udp.fd(), buf, sizeof buf, MSG_DONTWAIT) > 0) {}
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _attempts.push_back(Attempt());
        _attempts.back().announced = Clock::now();
    }
    _receiving = true;
    _failed = false;
    reply(_options.before + "udpReady " + std::to_string(udpPort()));
}

void FakeReceiver::onWord(const std::string& word, const std::string& arg)
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

size_t FakeReceiver::attemptCount() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _attempts.size();
}

void FakeReceiver::readControl()
{
    char buf[512];
    ssize_t n = ::recv(_conn, buf, sizeof buf, 0);
    if (n <= 0) {
        _senderClosed = true;
        closeConnection();
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

void FakeReceiver::readDatagram()
{
    unsigned char buf[65536];
    // Without waiting: a new attempt, started since the poll, drops what
    // waited, and a blocking read would then hold the thread for good.
    ssize_t n = ::recv(_udp.fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0 || !_receiving)
        return;
    size_t received;
    int index;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        Attempt& a = _attempts.back();
        a.bytes.insert(a.bytes.end(), buf, buf + n);
        a.largestDatagram = std::max(a.largestDatagram, static_cast<size_t>(n));
        a.datagramSizes.push_back(static_cast<size_t>(n));
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
        closeConnection();
        _receiving = false;
    }
}

void FakeReceiver::serve()
{
    Clock::time_point nextFlush = Clock::now();
    while (!_stop) {
        pollfd fds[2];
        fds[0] = {_conn >= 0 ? _conn : _listen.fd(), POLLIN, 0};
        fds[1] = {_udp.fd(), POLLIN, 0};
        if (::poll(fds, 2, 10) < 0)
            break;
        if (fds[0].revents) {
            if (_conn < 0)
                _conn = ::accept(_listen.fd(), nullptr, nullptr);
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

} // namespace TestHelpers
