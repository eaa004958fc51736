#include "server/audioreceiver.h"

#include "server/servercmd.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"

#include <chrono>
#include <string>

namespace Server {

namespace {

constexpr int largestDatagram = 65536;
constexpr int discardLimitMs = 200;

// Says on standard error how many datagrams came from senders other than
// the stream's, if any did.
void reportDrops(const Wrappers::SenderDrops& drops)
{
    if (drops.datagrams() == 0)
        return;
    Utils::printErr("AudioReceiver: dropped " + std::to_string(drops.datagrams()) + " datagrams from "
                    + (drops.moreSenders() ? "more than " : "") + std::to_string(drops.senders())
                    + " senders other than the stream's\n");
}

} // namespace

AudioReceiver::AudioReceiver(ServerCmd* cmd) : _serverCmd(cmd), _startAgain(true), _scratch(largestDatagram)
{
    _dec.setStopCheck([this] { return checkStop(); });
    cmd->_startTransmissionAgainSignal.connect(this, &AudioReceiver::onStartTransmissionAgain);
    cmd->_startTransmissionSignal.connect(this, &AudioReceiver::onStartTransmission);
    cmd->_connectionBrokenSignal.connect(this, &AudioReceiver::onConnectionBroken);
}

AudioReceiver::~AudioReceiver()
{
    stopThread();
}

void AudioReceiver::onStartTransmission(int)
{
    Utils::printOut("AudioReceiver::onStartTransmission()\n");
    startThread();
}

void AudioReceiver::onConnectionBroken(int)
{
    Utils::printOut("AudioReceiver::onConnectionBroken()\n");
    stopThread();
}

void AudioReceiver::onStartTransmissionAgain(int)
{
    Utils::printOut("AudioReceiver::onStartTransmissionAgain()\n");
    _startAgain = true;
}

void AudioReceiver::threadMain()
{
    Utils::printOut("bruker port " + std::to_string(audioPort) + "\n");
    _controller = _serverCmd->controller();
    _report.reset();
    _startAgain = true;
    for (int left = attempts; left >= 1 && mayAttempt(); --left) {
        if (attempt() == Outcome::Stopped || checkStop())
            break;
        // Cleared before the controller hears of the failure, so that its
        // "startTransmissionAgain" always counts.
        _startAgain = false;
        ServerCmd::initTransmissionFailed(_controller);
        if (left == 1)
            Utils::printOut("AudioReceiver::threadMain(): client failed to initialize, giving up\n");
    }
    endRun();
}

// Waits for permission to make an attempt; false when a stop came first.
bool AudioReceiver::mayAttempt()
{
    for (;;) {
        if (checkStop())
            return false;
        if (_startAgain)
            return true;
        _timer.sleep(retryStepMs);
    }
}

// Opens what is not open yet, announces "udpReady" and plays the stream
// until a stop or a failure.
AudioReceiver::Outcome AudioReceiver::attempt()
{
    if (!openNet() || !openOutput())
        return Outcome::Failed;
    // The controller's sender may send each attempt from a new port; what
    // is left over from before is thrown away first.
    _net->hearNextSender();
    discardWaiting();
    _net->hearNextSender();
    ServerCmd::sendUdpReady(audioPort, _controller);
    try {
        _dec.init(_net.get(), _output.get());
    } catch (const Utils::AdError&) {
        return Outcome::Failed;
    }
    const Outcome outcome = play();
    _report.add(_dec.report());
    return outcome;
}

bool AudioReceiver::openNet()
{
    if (_net)
        return true;
    try {
        auto net = std::make_unique<Wrappers::Net>();
        net->setupListen(audioPort, Wrappers::ConnectionType::UDP);
        _net = std::move(net);
    } catch (const Utils::NetError&) {
        Utils::printErr("AudioReceiver: cannot receive on UDP port " + std::to_string(audioPort) + "\n");
        return false;
    }
    // Only the controller's host may send the stream; anyone else on the
    // network could otherwise silence or replace it.
    ServerCmd::hearOnly(_controller, *_net);
    Utils::printOut("AudioReceiver: net initiert\n");
    return true;
}

bool AudioReceiver::openOutput()
{
    if (_output)
        return true;
    try {
        auto output = std::make_unique<Wrappers::AudioIO>(_library);
        output->init(2, 0);
        _output = std::move(output);
    } catch (const Utils::AudioError&) {
        Utils::printErr("AudioReceiver: cannot open the audio output\n");
        return false;
    }
    Utils::printOut("AudioReceiver: _aio initiert\n");
    return true;
}

AudioReceiver::Outcome AudioReceiver::play()
{
    Utils::printOut("Audio dekoder initiert\n");
    Utils::printOut("starter dekoding\n");
    while (!checkStop()) {
        try {
            _dec.decode();
        } catch (const Utils::AdReadError&) {
            Utils::printErr("AudioReceiver: read error\n");
        } catch (const Utils::AudioError&) {
            if (checkStop())
                break;
            // The next attempt opens a new output, on a server that may
            // have come back meanwhile.
            return failed("AudioReceiver: the audio output failed\n", _output);
        } catch (const Utils::NetError&) {
            return failed("AudioReceiver: the UDP port failed\n", _net);
        } catch (const Utils::AdError&) {
            _dec.close();
            Utils::printErr("AudioReceiver: the stream cannot be decoded on\n");
            return Outcome::Failed;
        }
    }
    Utils::printOut("dekoding stoppet\n");
    return Outcome::Stopped;
}

// Playing cannot go on with `broken`: the attempt fails, and the next one
// opens it again.
template <typename Part>
AudioReceiver::Outcome AudioReceiver::failed(const char* why, std::unique_ptr<Part>& broken)
{
    Utils::printErr(why);
    _dec.close();
    broken.reset();
    return Outcome::Failed;
}

// Releases the run's objects: the decoder's hold on them first, then the
// output, then the UDP port.
void AudioReceiver::endRun()
{
    if (!_report.empty())
        Utils::printErr(_report.line());
    _dec.close();
    _output.reset();
    if (_net) {
        try {
            reportDrops(_net->drops());
        } catch (...) {
        }
    }
    _net.reset();
    _controller.reset();
}

// The controller sends the stream from its beginning after each "udpReady";
// whatever waits at the port before that (the rest of a failed attempt's
// data) would only make the opening fail again. Bounded in time, so a
// flood cannot hold the run here.
void AudioReceiver::discardWaiting()
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(discardLimitMs);
    while (std::chrono::steady_clock::now() < until && !checkStop()) {
        try {
            _net->receive(_scratch.data(), static_cast<int>(_scratch.size()), 1, 1);
        } catch (const Utils::NetError&) {
            return;
        }
    }
}

} // namespace Server
