#include "send/send_session.h"

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
// Replies are polled at least this often while nothing else is due.
const int pollMs = 50;
// Each pass of --loop gets serial numbers of its own, so the receiver sees a
// new link of a chain instead of the same pages again.
const uint32_t serialStep = 0x9E3779B9u;
// The most audio one group of pages spans: its repair leaves after its last
// page. A file is sent this much further ahead, so that each group's
// repair still arrives a lead before the group begins to play.
const double fileSpan = 3.0;
// Live audio cannot be sent ahead, so its groups are shorter, and the
// receiver is made to play it later instead: the first audio of each
// transmission waits for one group and a margin for the receiver's
// decoding ahead of its device (two buffers, 0.4 s), encoding and the
// network.
const double liveSpan = 1.0;
const double liveMargin = 0.75;

bool livePaced(const SessionConfig& config, const PageSource& source)
{
    return config.liveInput || source.live();
}

double leadFor(const SessionConfig& config, const PageSource& source)
{
    return config.lead + (config.repairPercent > 0 && !livePaced(config, source) ? fileSpan : 0);
}

double spanFor(const SessionConfig& config, const PageSource& source)
{
    return livePaced(config, source) ? liveSpan : fileSpan;
}

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

SendSession::SendSession(const SessionConfig& config, PageSource& source)
    : _config(config)
    , _where(config.host + ":" + std::to_string(config.port))
    , _source(source)
    , _schedule(leadFor(config, source))
    , _repair(config.repairPercent, spanFor(config, source))
    , _hold(config.repairPercent > 0 && livePaced(config, source) ? liveSpan + liveMargin : 0)
{
}

SendSession::~SendSession() = default;

SendSession::Result SendSession::run()
{
    Result result = loop();
    endProgress();
    if (_refused > 0)
        warn(std::to_string(_refused) + " datagrams of the stream could not be sent");
    // Closing the control connection is what ends the receiver's run.
    _udp.reset();
    _control.reset();
    return result;
}

SendSession::Result SendSession::loop()
{
    if (!connect())
        return _result;
    _now = Clock::now();
    _deadline = _now + std::chrono::milliseconds(_config.readyTimeoutMs);
    _nextAlive = _now;
    _nextProgress = _now;
    _start = _now;
    _control->bufferCmd(Utils::wordStart);
    while (step()) {}
    return _result;
}

bool SendSession::connect()
{
    if (!resolvable(_config.host)) {
        warn("cannot resolve the host " + _config.host);
        return finish(Result::NoReceiver);
    }
    try {
        _control = std::make_unique<Wrappers::Net>();
        _control->setupSend(_config.host, _config.port, Wrappers::ConnectionType::TCP);
    } catch (const Utils::NetError&) {
        warn("no receiver at " + _where + " (cannot connect)");
        return finish(Result::NoReceiver);
    }
    return true;
}

bool SendSession::step()
{
    _now = Clock::now();
    if (!sendAlive())
        return false;
    reportSilence();
    if (_state == State::Streaming && !sendDuePages())
        return false;
    if (!checkDeadlines())
        return false;
    showProgressIfDue();
    return readReplies();
}

bool SendSession::finish(Result result)
{
    _result = result;
    return false;
}

double SendSession::elapsed() const
{
    return std::chrono::duration<double>(_now - _start).count();
}

bool SendSession::sendAlive()
{
    if (_now >= _nextAlive) {
        _control->bufferCmd(std::string(Utils::wordAlive) + " " + std::to_string(++_aliveCounter));
        _pendingAlive.push_back({_aliveCounter, _now});
        _nextAlive += std::chrono::milliseconds(_config.aliveIntervalMs);
    }
    try {
        _control->sendCommands();
    } catch (const Utils::NetError&) {
        warn("the connection to " + _where + " was lost");
        return finish(Result::ConnectionLost);
    }
    return true;
}

void SendSession::reportSilence()
{
    if (!_pendingAlive.empty() && !_silenceReported
        && _now - _pendingAlive.front().sent > std::chrono::milliseconds(_config.aliveSilenceMs)) {
        warn("no reply to \"alive " + std::to_string(_pendingAlive.front().number) + "\" for "
             + std::to_string(_config.aliveSilenceMs / 1000) + " s");
        _silenceReported = true;
    }
}

// Sends every page that is due, as many whole pages to a datagram as fit,
// so that a lost datagram loses only the pages it carries; at the end of
// the input the session drains (or, with --loop, starts the next pass).
bool SendSession::sendDuePages()
{
    _batch.clear();
    while (nextPage() && _pageDue <= elapsed()) {
        const bool alone = _page.alone;
        if (!_batch.empty() && (alone || _batch.size() + _page.bytes.size() > _config.datagramBytes)
            && !sendBatch())
            return false;
        _batch.insert(_batch.end(), _page.bytes.begin(), _page.bytes.end());
        _havePage = false;
        if (alone && !sendBatch())
            return false;
    }
    return sendBatch();
}

bool SendSession::sendBatch()
{
    if (_batch.empty())
        return true;
    try {
        _udp->sendData(reinterpret_cast<const char*>(_batch.data()), static_cast<int>(_batch.size()));
    } catch (const Utils::NetError&) {
        return onRefused();
    }
    _refusing = false;
    _bytesSent += static_cast<long long>(_batch.size());
    _batch.clear();
    return true;
}

// A network that refuses a datagram now and then (a firewall rule, a full
// buffer, a port-unreachable report) loses audio like any lossy network;
// the stream goes on unless it refuses everything for refusedLimitMs.
bool SendSession::onRefused()
{
    ++_refused;
    _batch.clear();
    if (!_refusing)
        _refusedSince = _now;
    _refusing = true;
    if (_now - _refusedSince < std::chrono::milliseconds(_config.refusedLimitMs))
        return true;
    warn("cannot send the stream to " + _config.host + ":" + std::to_string(_udpPort) + " (refused for "
         + secondsText(_config.refusedLimitMs) + " s)");
    return finish(Result::ConnectionLost);
}

// Makes sure a page waits in _page; false when none does: at the end of
// the input, where the state becomes Draining, or while a live source has
// nothing yet.
bool SendSession::nextPage()
{
    _later = false;
    while (!_havePage) {
        if (_repair.pageOut(_page)) {
            _havePage = true;
            break;
        }
        switch (_source.next(_incoming)) {
        case PageSource::Status::Page:
            takePage();
            break;
        case PageSource::Status::Later:
            _later = true;
            return false;
        case PageSource::Status::End:
            if (!endOfInput())
                return false;
            break;
        }
    }
    return true;
}

// The source's page is due when its audio is; the repair datagrams it brings
// along leave with it.
void SendSession::takePage()
{
    _passHadPages = true;
    if (_pass > 0)
        OggPageReader::setSerial(_incoming, _incoming.serial + _pass * serialStep);
    _pageDue = _schedule.due(_incoming);
    if (_source.live())
        _pageDue = 0;
    // The header pages go at once: the receiver gives up on a stream whose
    // first bytes do not come within a second.
    _audioStarted = _audioStarted || _incoming.granule > 0;
    if (_audioStarted)
        _pageDue = std::max(_pageDue, _hold);
    _repair.add(std::move(_incoming));
}

// The last group's repair, then the next pass of --loop; false when
// nothing more is to be sent.
bool SendSession::endOfInput()
{
    _repair.finish();
    if (_repair.waiting())
        return true;
    if (_config.loop && _passHadPages && _source.rewindsToStart()) {
        _source.rewind();
        ++_pass;
        _passHadPages = false;
        return true;
    }
    _state = State::Draining;
    return false;
}

bool SendSession::checkDeadlines()
{
    // Held pages made the receiver play later by the hold.
    if (_state == State::Draining && elapsed() >= _schedule.playEnd() + _hold + _config.drainSeconds)
        return finish(Result::Finished);
    if (_state != State::WaitingReady || _now < _deadline)
        return true;
    if (_failures >= Utils::attemptsPerRun) {
        warn("the receiver gave up after " + std::to_string(_failures)
             + " failed attempts to open the stream");
        return finish(Result::GaveUp);
    }
    if (_failures > 0) {
        warn("the receiver stopped answering after " + std::to_string(_failures)
             + " failed attempts to open the stream");
        return finish(Result::GaveUp);
    }
    warn("no receiver answers at " + _where + " (no \"udpReady\" within "
         + secondsText(_config.readyTimeoutMs) + " s)");
    return finish(Result::NoReceiver);
}

void SendSession::showProgressIfDue()
{
    if (_config.progress && _state != State::WaitingReady && _now >= _nextProgress) {
        showProgress(std::min(std::max(0.0, elapsed() - _hold), _schedule.playEnd()));
        _nextProgress = _now + std::chrono::milliseconds(250);
    }
}

// The next thing that falls due: an "alive", a page, the deadline for
// "udpReady", or the next poll for replies.
SendSession::Clock::time_point SendSession::nextWake() const
{
    Clock::time_point wake = std::min(_nextAlive, _now + std::chrono::milliseconds(pollMs));
    // A live source paces the loop itself: each ask waits for a little
    // of its audio.
    if (_state == State::Streaming && _later)
        wake = _now;
    if (_state == State::Streaming && _havePage)
        wake = std::min(
            wake,
            _start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(_pageDue)));
    if (_state == State::WaitingReady)
        wake = std::min(wake, _deadline);
    return wake;
}

// Waits for replies until the next thing falls due, and handles them.
bool SendSession::readReplies()
{
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextWake() - Clock::now());
    std::string chunk;
    try {
        chunk = _control->recvCmd(std::max(1, static_cast<int>(wait.count())));
    } catch (const Utils::NetErrorTimeout&) {
    } catch (const Utils::NetError&) {
        warn("the connection to " + _where + " was lost");
        return finish(Result::ConnectionLost);
    }
    _replies.feed(chunk);
    Reply reply;
    while (_replies.next(reply)) {
        switch (reply.kind) {
        case Reply::Kind::UdpReady:
            if (!onUdpReady(static_cast<int>(reply.value)))
                return false;
            break;
        case Reply::Kind::InitTransmissionFailed:
            onInitTransmissionFailed();
            break;
        case Reply::Kind::Alive:
            checkAliveReply(reply.value);
            break;
        case Reply::Kind::ReadError:
            warn("the receiver reports a read error");
            break;
        case Reply::Kind::Malformed:
        case Reply::Kind::Unknown:
            // As the receiver shows a controller's unknown words.
            warn("unexpected reply \"" + Utils::escaped(reply.text.substr(0, Utils::maxWordBytes))
                 + (reply.text.size() > Utils::maxWordBytes ? "...\"" : "\""));
            break;
        }
    }
    return true;
}

std::unique_ptr<Wrappers::Net> SendSession::openStream(int port) const
{
    if (_config.openStream)
        return _config.openStream(_config.host, port);
    auto udp = std::make_unique<Wrappers::Net>();
    udp->setupSend(_config.host, port, Wrappers::ConnectionType::UDP);
    return udp;
}

bool SendSession::onUdpReady(int port)
{
    if (!_udp || port != _udpPort) {
        try {
            _udp = openStream(port);
        } catch (const Utils::NetError&) {
            _udp.reset();
            warn("cannot open a UDP socket towards " + _config.host + ":" + std::to_string(port));
            return finish(Result::ConnectionLost);
        }
        _udpPort = port;
    }
    // The receiver drops whatever waited before it said "udpReady", so
    // every attempt starts from the first byte (a live input: from its
    // header pages, then on from where it is).
    ++_attempts;
    _source.rewind();
    _schedule.reset();
    _repair.reset();
    _audioStarted = false;
    _havePage = false;
    _pass = 0;
    _passHadPages = false;
    _start = Clock::now();
    _state = State::Streaming;
    return true;
}

void SendSession::onInitTransmissionFailed()
{
    ++_failures;
    warn("the receiver could not open the stream (failed attempt " + std::to_string(_failures) + " of "
         + std::to_string(Utils::attemptsPerRun) + ")");
    _control->bufferCmd(Utils::wordStartAgain);
    _state = State::WaitingReady;
    _deadline = Clock::now() + std::chrono::milliseconds(_config.retryTimeoutMs);
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
