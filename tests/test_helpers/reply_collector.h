#pragma once

#include "test_helpers/tcp_client.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace TestHelpers {

// Reads everything a controller receives, on a thread of its own, while
// the test floods the other way; stops and joins when stopped or destroyed.
class ReplyCollector {
public:
    explicit ReplyCollector(TcpClient& controller);
    ~ReplyCollector();
    ReplyCollector(const ReplyCollector&) = delete;
    ReplyCollector& operator=(const ReplyCollector&) = delete;

    // Whether what has come so far ends with tail. Any thread.
    bool endsWith(const std::string& tail) const;
    // Stops reading and returns all that came.
    std::string stop();

private:
    TcpClient& _controller;
    std::atomic<bool> _stop{false};
    mutable std::mutex _mutex;
    std::string _replies;
    std::thread _reader;
};

} // namespace TestHelpers
