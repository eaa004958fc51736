#pragma once

#include "send/ogg_page_reader.h"
#include "send/pacing_schedule.h"
#include "send/page_source.h"
#include "send/repair_mixer.h"
#include "send/reply_reader.h"
#include "utils/protocol.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Wrappers {
class Net;
}

namespace Send {

struct SessionConfig {
    std::string host;
    int port = Utils::controlPort;
    double lead = 1.0;
    bool loop = false;
    bool progress = false;      // the "\r" line on standard output
    double totalSeconds = 0;    // for the progress line; 0 when unknown
    int readyTimeoutMs = 10000; // for "udpReady" after "startTransmission"
    int retryTimeoutMs = 3000;  // for "udpReady" after "startTransmissionAgain"
    // How long the connection stays open after the last page's audio is due
    // to play: closing it stops the receiver, so this covers the receiver's
    // own latency (decoder buffer and audio output).
    double drainSeconds = 2.0;
    int aliveIntervalMs = 1000;
    int aliveSilenceMs = 5000; // no reply this long is reported
    // Pages are packed whole into datagrams of at most this many bytes.
    size_t datagramBytes = 1024;
    // Datagrams the network refuses are lost audio; refused this long
    // without a break, the stream cannot reach the receiver.
    int refusedLimitMs = 5000;
    // Repair pieces for each group of pages, in percent of the group's
    // pages; 0 sends none, and the datagrams are then the pages alone. A
    // piece is as long as its group's longest page, and has a datagram of
    // its own: pages must leave room for its headers
    // (RepairStream::largestProtectedPage).
    int repairPercent = 0;
    // The audio is made as it is sent (a pipe from a live encoder), though
    // the source paces by granule: its repair is timed as live audio's.
    bool liveInput = false;
    // The stream's datagram socket towards host:port; empty: UDP.
    std::function<std::unique_ptr<Wrappers::Net>(const std::string& host, int port)> openStream;
};

// One controller session with a receiver: connects, asks for a transmission,
// and on every "udpReady" sends the stream from its beginning, paced by its
// granule positions, in datagrams that each carry whole pages; answers "initTransmissionFailed" with
// "startTransmissionAgain"; keeps the connection checked with "alive".
// Runs on the calling thread; reports problems on standard error.
class SendSession {
public:
    enum class Result { Finished, NoReceiver, GaveUp, ConnectionLost };

    SendSession(const SessionConfig& config, PageSource& source);
    ~SendSession();
    SendSession(const SendSession&) = delete;
    SendSession& operator=(const SendSession&) = delete;

    Result run();

    int attempts() const { return _attempts; } // "udpReady" answered
    int failures() const { return _failures; } // "initTransmissionFailed" seen
    long long bytesSent() const { return _bytesSent; }

private:
    using Clock = std::chrono::steady_clock;

    // WaitingReady: "startTransmission(Again)" sent, "udpReady" not yet
    // come; Streaming: pages leave as they fall due; Draining: the last page
    // left, the receiver plays out what it holds.
    enum class State { WaitingReady, Streaming, Draining };

    struct PendingAlive {
        long number = 0;
        Clock::time_point sent;
    };

    Result loop();
    bool connect();
    // One pass of the loop: false once the session is over (_result says
    // why). Each of the following does one concern of a pass, and returns
    // false when it ends the session.
    bool step();
    bool sendAlive();
    void reportSilence();
    bool sendDuePages();
    bool sendBatch();
    bool onRefused();
    bool nextPage();
    void takePage();
    bool endOfInput();
    bool checkDeadlines();
    void showProgressIfDue();
    bool readReplies();
    std::unique_ptr<Wrappers::Net> openStream(int port) const;
    bool onUdpReady(int port);
    void onInitTransmissionFailed();
    void checkAliveReply(long number);
    Clock::time_point nextWake() const;
    double elapsed() const; // seconds since the current attempt began
    bool finish(Result result);
    void warn(const std::string& text);
    void showProgress(double played);
    void endProgress();

    SessionConfig _config;
    std::string _where; // host:port of the control connection, for messages
    std::unique_ptr<Wrappers::Net> _control;
    std::unique_ptr<Wrappers::Net> _udp;
    int _udpPort = 0;
    int _attempts = 0;
    int _failures = 0;
    long long _bytesSent = 0;
    long long _refused = 0; // datagrams the network would not take
    Clock::time_point _refusedSince;
    Result _result = Result::Finished;

    // Protocol and deadlines.
    State _state = State::WaitingReady;
    Clock::time_point _now;
    Clock::time_point _deadline; // for "udpReady", while WaitingReady
    Clock::time_point _nextAlive;
    Clock::time_point _nextProgress;
    Clock::time_point _start; // of the current attempt
    long _aliveCounter = 0;
    std::deque<PendingAlive> _pendingAlive;
    bool _silenceReported = false;
    bool _refusing = false; // the last datagram was refused

    // Pacing: the next page to send and when it is due.
    PageSource& _source;
    PacingSchedule _schedule;
    RepairMixer _repair;
    // Live audio with repair: the first pages of audio of each
    // transmission wait until this long after its start.
    double _hold = 0;
    ReplyReader _replies;
    OggPage _page;     // the next to send, repair datagrams included
    OggPage _incoming; // the source's latest
    bool _havePage = false;
    bool _later = false;        // a live source had no page at the last ask
    bool _audioStarted = false; // a page with a granule position above 0 came
    double _pageDue = 0;
    uint32_t _pass = 0; // of --loop, from 0
    bool _passHadPages = false;
    std::vector<unsigned char> _batch;

    // Progress line.
    bool _progressShown = false;
    std::string _lastProgress;
};

} // namespace Send
