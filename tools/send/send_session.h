#pragma once

#include "send/input_stream.h"

#include <chrono>
#include <deque>
#include <memory>
#include <string>

namespace Wrappers {
class Net;
}

namespace Send {

struct SessionConfig {
    std::string host;
    int port = 8888;
    double lead = 1.0;
    bool loop = false;
    bool progress = false;       // the "\r" line on standard output
    double totalSeconds = 0;     // for the progress line; 0 when unknown
    int readyTimeoutMs = 10000;  // for "udpReady" after "startTransmission"
    int retryTimeoutMs = 3000;   // for "udpReady" after "startTransmissionAgain"
    // How long the connection stays open after the last page's audio is due
    // to play: closing it stops the receiver, so this covers the receiver's
    // own latency (decoder buffer and audio output).
    double drainSeconds = 2.0;
    int aliveIntervalMs = 1000;
    int aliveSilenceMs = 5000;   // no reply this long is reported
};

// One controller session with a receiver: connects, asks for a transmission,
// and on every "udpReady" sends the stream from its beginning, paced by its
// granule positions; answers "initTransmissionFailed" with
// "startTransmissionAgain"; keeps the connection checked with "alive".
// Runs on the calling thread; reports problems on standard error.
class SendSession {
public:
    enum class Result { Finished, NoReceiver, GaveUp, ConnectionLost };

    SendSession(const SessionConfig& config, InputStream& input);
    ~SendSession();
    SendSession(const SendSession&) = delete;
    SendSession& operator=(const SendSession&) = delete;

    Result run();

    int attempts() const { return _attempts; } // "udpReady" answered
    int failures() const { return _failures; } // "initTransmissionFailed" seen
    long long bytesSent() const { return _bytesSent; }

private:
    using Clock = std::chrono::steady_clock;

    struct PendingAlive {
        long number;
        Clock::time_point sent;
    };

    Result loop();
    void checkAliveReply(long number);
    void warn(const std::string& text);
    void showProgress(double played);
    void endProgress();

    SessionConfig _config;
    InputStream& _input;
    std::unique_ptr<Wrappers::Net> _control;
    std::unique_ptr<Wrappers::Net> _udp;
    int _udpPort = 0;
    int _attempts = 0;
    int _failures = 0;
    long long _bytesSent = 0;
    std::deque<PendingAlive> _pendingAlive;
    bool _silenceReported = false;
    bool _progressShown = false;
    std::string _lastProgress;
};

} // namespace Send
