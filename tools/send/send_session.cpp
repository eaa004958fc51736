#include "send/send_session.h"

#include "send/ogg_page_reader.h"
#include "send/pacing_schedule.h"
#include "send/reply_reader.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <netdb.h>
#include <sys/socket.h>
#include <vector>

namespace Send {

namespace {

// The receiver allows this many attempts to open the stream in one run.
const int receiverAttempts = 5;
// Replies are polled at least this often while nothing else is due.
const int pollMs = 50;
// Each pass of --loop gets serial numbers of its own, so the receiver sees a
// new link of a chain instead of the same pages again.
const uint32_t serialStep = 0x9E3779B9u;

// SDL_net takes a host it cannot resolve for "listen on any address", so a
// bad name is caught here before it reaches the transport.
bool resolvable(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return false;
    freeaddrinfo(found);
    return true;
}

std::string clockText(double seconds)
{
    long s = static_cast<long>(std::max(0.0, seconds));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string secondsText(int ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", ms / 1000.0);
    return buf;
}

} // namespace

SendSession::SendSession(const SessionConfig& config, InputStream& input)
    : _config(config)
    , _input(input)
{
}

SendSession::~SendSession() = default;

SendSession::Result SendSession::run()
{
    Result result = loop();
    endProgress();
    // Closing the control connection is what ends the receiver's run.
    _udp.reset();
    _control.reset();
    return result;
}

SendSession::Result SendSession::loop()
{
    const std::string where = _config.host + ":" + std::to_string(_config.port);
    if (!resolvable(_config.host)) {
        warn("cannot resolve the host " + _config.host);
        return Result::NoReceiver;
    }
    try {
        _control.reset(new Wrappers::Net());
        _control->setupSend(_config.host, _config.port, Wrappers::ConnectionType::TCP);
    } catch (const Utils::NetError&) {
        warn("no receiver at " + where + " (cannot connect)");
        return Result::NoReceiver;
    }

    enum class State { WaitingReady, Streaming, Draining } state = State::WaitingReady;
    Clock::time_point now = Clock::now();
    Clock::time_point deadline = now + std::chrono::milliseconds(_config.readyTimeoutMs);
    Clock::time_point nextAlive = now;
    Clock::time_point nextProgress = now;
    Clock::time_point start = now;
    long aliveCounter = 0;

    OggPageReader reader(_input);
    PacingSchedule schedule(_config.lead);
    ReplyReader replies;
    OggPage page;
    bool havePage = false;
    double pageDue = 0;
    uint32_t pass = 0;
    bool passHadPages = false;
    std::vector<unsigned char> batch;

    _control->bufferCmd("startTransmission");

    for (;;) {
        now = Clock::now();
        if (now >= nextAlive) {
            _control->bufferCmd("alive " + std::to_string(++aliveCounter));
            _pendingAlive.push_back({aliveCounter, now});
            nextAlive += std::chrono::milliseconds(_config.aliveIntervalMs);
        }
        try {
            _control->sendCommands();
        } catch (const Utils::NetError&) {
            warn("the connection to " + where + " was lost");
            return Result::ConnectionLost;
        }
        if (!_pendingAlive.empty() && !_silenceReported
            && now - _pendingAlive.front().sent > std::chrono::milliseconds(_config.aliveSilenceMs)) {
            warn("no reply to \"alive " + std::to_string(_pendingAlive.front().number) + "\" for "
                 + std::to_string(_config.aliveSilenceMs / 1000) + " s");
            _silenceReported = true;
        }

        double elapsed = std::chrono::duration<double>(now - start).count();
        if (state == State::Streaming) {
            batch.clear();
            for (;;) {
                if (!havePage) {
                    if (!reader.next(page)) {
                        if (_config.loop && passHadPages) {
                            reader.rewind();
                            ++pass;
                            passHadPages = false;
                            continue;
                        }
                        state = State::Draining;
                        break;
                    }
                    passHadPages = true;
                    if (pass > 0)
                        OggPageReader::setSerial(page, page.serial + pass * serialStep);
                    pageDue = schedule.due(page);
                    havePage = true;
                }
                if (pageDue > elapsed)
                    break;
                batch.insert(batch.end(), page.bytes.begin(), page.bytes.end());
                havePage = false;
            }
            if (!batch.empty()) {
                try {
                    _udp->sendData(reinterpret_cast<const char*>(batch.data()), static_cast<int>(batch.size()));
                } catch (const Utils::NetError&) {
                    warn("cannot send the stream to " + _config.host + ":" + std::to_string(_udpPort));
                    return Result::ConnectionLost;
                }
                _bytesSent += static_cast<long long>(batch.size());
            }
        }
        if (state == State::Draining && elapsed >= schedule.playEnd() + _config.drainSeconds)
            return Result::Finished;
        if (state == State::WaitingReady && now >= deadline) {
            if (_failures >= receiverAttempts) {
                warn("the receiver gave up after " + std::to_string(_failures) + " failed attempts to open the stream");
                return Result::GaveUp;
            }
            if (_failures > 0) {
                warn("the receiver stopped answering after " + std::to_string(_failures)
                     + " failed attempts to open the stream");
                return Result::GaveUp;
            }
            warn("no receiver answers at " + where + " (no \"udpReady\" within "
                 + secondsText(_config.readyTimeoutMs) + " s)");
            return Result::NoReceiver;
        }
        if (_config.progress && state != State::WaitingReady && now >= nextProgress) {
            showProgress(std::min(elapsed, schedule.playEnd()));
            nextProgress = now + std::chrono::milliseconds(250);
        }

        // Wait for replies until the next thing falls due.
        Clock::time_point wake = std::min(nextAlive, now + std::chrono::milliseconds(pollMs));
        if (state == State::Streaming && havePage)
            wake = std::min(wake, start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(pageDue)));
        if (state == State::WaitingReady)
            wake = std::min(wake, deadline);
        int waitMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count());
        std::string chunk;
        try {
            chunk = _control->recvCmd(std::max(1, waitMs));
        } catch (const Utils::NetErrorTimeout&) {
        } catch (const Utils::NetError&) {
            warn("the connection to " + where + " was lost");
            return Result::ConnectionLost;
        }
        replies.feed(chunk);
        Reply reply;
        while (replies.next(reply)) {
            switch (reply.kind) {
            case Reply::Kind::UdpReady: {
                int port = static_cast<int>(reply.value);
                if (!_udp || port != _udpPort) {
                    try {
                        _udp.reset(new Wrappers::Net());
                        _udp->setupSend(_config.host, port, Wrappers::ConnectionType::UDP);
                    } catch (const Utils::NetError&) {
                        _udp.reset();
                        warn("cannot open a UDP socket towards " + _config.host + ":" + std::to_string(port));
                        return Result::ConnectionLost;
                    }
                    _udpPort = port;
                }
                // The receiver drops whatever waited before it said
                // "udpReady", so every attempt starts from the first byte.
                ++_attempts;
                reader.rewind();
                schedule.reset();
                havePage = false;
                pass = 0;
                passHadPages = false;
                start = Clock::now();
                state = State::Streaming;
                break;
            }
            case Reply::Kind::InitTransmissionFailed:
                ++_failures;
                warn("the receiver could not open the stream (failed attempt " + std::to_string(_failures) + " of "
                     + std::to_string(receiverAttempts) + ")");
                _control->bufferCmd("startTransmissionAgain");
                state = State::WaitingReady;
                deadline = Clock::now() + std::chrono::milliseconds(_config.retryTimeoutMs);
                break;
            case Reply::Kind::Alive:
                checkAliveReply(reply.value);
                break;
            case Reply::Kind::ReadError:
                warn("the receiver reports a read error");
                break;
            case Reply::Kind::Malformed:
            case Reply::Kind::Unknown:
                warn("unexpected reply \"" + reply.text + "\"");
                break;
            }
        }
    }
}

void SendSession::checkAliveReply(long number)
{
    auto it = std::find_if(_pendingAlive.begin(), _pendingAlive.end(),
                           [number](const PendingAlive& p) { return p.number == number; });
    if (it == _pendingAlive.end()) {
        warn("wrong reply \"alive " + std::to_string(number) + "\""
             + (_pendingAlive.empty() ? std::string(" (none expected)")
                                      : " (expected " + std::to_string(_pendingAlive.front().number) + ")"));
        return;
    }
    if (it != _pendingAlive.begin())
        warn("no reply to \"alive " + std::to_string(_pendingAlive.front().number) + "\" before \"alive "
             + std::to_string(number) + "\"");
    _pendingAlive.erase(_pendingAlive.begin(), it + 1);
    _silenceReported = false;
}

void SendSession::warn(const std::string& text)
{
    endProgress();
    Utils::printErr("veldrane-send: " + text + "\n");
}

void SendSession::showProgress(double played)
{
    if (_config.loop && _config.totalSeconds > 0)
        played = std::fmod(played, _config.totalSeconds);
    std::string line = "\r" + clockText(played) + " / "
                       + (_config.totalSeconds > 0 ? clockText(_config.totalSeconds) : std::string("?"))
                       + (_config.loop ? " (looping)" : "");
    if (_progressShown && line == _lastProgress)
        return;
    _lastProgress = line;
    _progressShown = true;
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void SendSession::endProgress()
{
    if (!_progressShown)
        return;
    _progressShown = false;
    _lastProgress.clear();
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

} // namespace Send
