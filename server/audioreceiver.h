#pragma once

#include "wrappers/audiodec.h"
#include "wrappers/audioio.h"
#include "wrappers/sdl_thread.h"
#include "wrappers/sdl_timer.h"

#include <atomic>
#include <vector>

namespace Wrappers {
class Net;
}

namespace Server {

class ServerCmd;

// Runs one reception at a time on its own thread: opens the UDP port and
// the output, announces "udpReady", opens the stream (up to five attempts,
// each allowed by "startTransmissionAgain") and plays it until stopped.
// Driven by the command server's signals, delivered on the main thread.
class AudioReceiver : public Wrappers::Thread {
public:
    static constexpr int audioPort = 6666;
    static constexpr int attempts = 5;
    static constexpr unsigned int retryStepMs = 300;

    explicit AudioReceiver(ServerCmd* cmd);
    ~AudioReceiver();

    // Main thread, by signal delivery.
    void onStartTransmission(int);
    void onConnectionBroken(int);
    void onStartTransmissionAgain(int);

protected:
    void threadMain() override;

private:
    void receive();
    bool openStream(Wrappers::Net& net, Wrappers::AudioIO& aio);
    void discardWaiting(Wrappers::Net& net);

    ServerCmd* _serverCmd;
    Wrappers::AudioDec _dec;
    // Never opened: constructing it shows a broken audio library at start-up.
    Wrappers::AudioIO _aio;
    Wrappers::Timer _timer;
    std::atomic<bool> _startAgain;
    std::vector<char> _scratch; // receiver's thread: datagrams thrown away
};

} // namespace Server
