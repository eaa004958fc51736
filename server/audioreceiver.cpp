#include "server/audioreceiver.h"

#include "server/servercmd.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"

#include <chrono>
#include <string>

namespace Server {

namespace {

// Releases the decoder's hold on a run's connection and output before they
// go, whichever way the run ends.
class DecoderRun {
public:
    explicit DecoderRun(Wrappers::AudioDec& dec) : _dec(dec) {}
    ~DecoderRun() { _dec.close(); }
    DecoderRun(const DecoderRun&) = delete;
    DecoderRun& operator=(const DecoderRun&) = delete;

private:
    Wrappers::AudioDec& _dec;
};

constexpr int largestDatagram = 65536;
constexpr int discardLimitMs = 200;

// At the end of a run, says on standard error how many datagrams came from
// senders other than the stream's, if any did.
class DropReport {
public:
    explicit DropReport(const Wrappers::Net& net) : _net(net) {}
    ~DropReport()
    {
        const Wrappers::SenderDrops& drops = _net.drops();
        if (drops.datagrams() == 0)
            return;
        try {
            print(drops);
        } catch (...) {
        }
    }
    DropReport(const DropReport&) = delete;
    DropReport& operator=(const DropReport&) = delete;

private:
    static void print(const Wrappers::SenderDrops& drops)
    {
        Utils::printErr("AudioReceiver: dropped " + std::to_string(drops.datagrams()) + " datagrams from " +
                        (drops.moreSenders() ? "more than " : "") + std::to_string(drops.senders()) +
                        " senders other than the stream's\n");
    }

    const Wrappers::Net& _net;
};

} // namespace

AudioReceiver::AudioReceiver(ServerCmd* cmd)
    : _serverCmd(cmd), _startAgain(true), _scratch(largestDatagram)
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
    // A run that cannot go on ends here, and the controller hears of it;
    // the process keeps serving and the next "startTransmission" starts
    // afresh.
    try {
        receive();
    } catch (const Utils::NetError&) {
        Utils::printErr("AudioReceiver: cannot receive on UDP port " + std::to_string(audioPort) +
                        ", reception ended\n");
        _serverCmd->initTransmissionFailed();
    } catch (const Utils::AudioError&) {
        Utils::printErr("AudioReceiver: audio output failed, reception ended\n");
        _serverCmd->initTransmissionFailed();
    }
}

void AudioReceiver::receive()
{
    Utils::printOut("bruker port " + std::to_string(audioPort) + "\n");

    Wrappers::Net net;
    net.setupListen(audioPort, Wrappers::ConnectionType::UDP);
    // Only the controller's host may send the stream; anyone else on the
    // network could otherwise silence or replace it.
    net.hearOnly(_serverCmd->controllerHost());
    Utils::printOut("AudioReceiver: net initiert\n");
    const DropReport dropReport(net);

    Wrappers::AudioIO aio;
    aio.init(2, 0);
    Utils::printOut("AudioReceiver: _aio initiert\n");

    DecoderRun decoderRun(_dec);
    if (!openStream(net, aio))
        return;

    Utils::printOut("Audio dekoder initiert\n");
    Utils::printOut("starter dekoding\n");
    while (!checkStop()) {
        try {
            _dec.decode();
        } catch (const Utils::AdReadError&) {
            Utils::printErr("AudioReceiver: read error\n");
        }
    }
    Utils::printOut("dekoding stoppet\n");
}

// Returns whether an attempt of this run opened the stream; false also when
// the run was stopped while it waited for permission.
bool AudioReceiver::openStream(Wrappers::Net& net, Wrappers::AudioIO& aio)
{
    _startAgain = true;
    bool opened = false;
    for (int left = attempts; left >= 1 && !opened;) {
        if (checkStop())
            return false;
        while (!_startAgain) {
            if (checkStop())
                return false;
            _timer.sleep(retryStepMs);
        }
        discardWaiting(net);
        // The controller's sender may send each attempt from a new port.
        net.hearNextSender();
        _serverCmd->sendUdpReady(audioPort);
        try {
            _dec.init(&net, &aio);
            opened = true;
        } catch (const Utils::AdError&) {
            if (checkStop())
                return false; // the attempt was given up for the stop
            // Cleared before the controller hears of the failure, so that
            // its "startTransmissionAgain" always counts.
            _startAgain = false;
            _serverCmd->initTransmissionFailed();
            --left;
        }
    }
    if (!opened || !_dec.isInitialized()) {
        Utils::printOut("AudioReceiver::threadMain(): client failed to initialize, giving up\n");
        return false;
    }
    return true;
}

// The controller sends the stream from its beginning after each "udpReady";
// whatever waits at the port before that (the rest of a failed attempt's
// data) would only make the opening fail again. Bounded in time, so a
// flood cannot hold the run here.
void AudioReceiver::discardWaiting(Wrappers::Net& net)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(discardLimitMs);
    while (std::chrono::steady_clock::now() < until && !checkStop()) {
        try {
            net.receive(_scratch.data(), static_cast<int>(_scratch.size()), 1, 1);
        } catch (const Utils::NetError&) {
            return;
        }
    }
}

} // namespace Server
