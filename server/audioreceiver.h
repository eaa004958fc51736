#pragma once

#include "wrappers/audio_library.h"
#include "wrappers/audiodec.h"
#include "wrappers/audioio.h"
#include "wrappers/sdl_thread.h"
#include "wrappers/sdl_timer.h"

#include "server/run_report.h"
#include "server/servercmd.h"
#include "utils/protocol.h"

#include <atomic>
#include <memory>
#include <vector>

namespace Server {

// Runs one reception at a time on its own thread: opens the UDP port and
// the output, announces "udpReady", opens the stream (up to five attempts,
// each allowed by "startTransmissionAgain") and plays it until stopped.
// Driven by the command server's signals, delivered on the main thread.
//
// Every failure of a run, before or during playback (port 6666 taken, no
// output, the output failing, the stream not opening), is one failed
// attempt: the run's own controller hears "initTransmissionFailed", and its
// "startTransmissionAgain" makes the next attempt, which reopens whatever
// failed. Five attempts per run.
class AudioReceiver : public Wrappers::Thread {
public:
    static constexpr int audioPort = 6666;
    static constexpr int attempts = Utils::attemptsPerRun;
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
    enum class Outcome { Stopped, Failed };

    bool mayAttempt();
    Outcome attempt();
    bool openNet();
    bool openOutput();
    Outcome play();
    template <typename Part> Outcome failed(const char* why, std::unique_ptr<Part>& broken);
    void discardWaiting();
    void endRun();

    ServerCmd* _serverCmd;
    Wrappers::AudioDec _dec;
    // Made at start-up, so that a broken audio library shows then, and lent
    // to each run's output, so that no run makes it and lists every device
    // again.
    Wrappers::AudioLibrary _library;
    Wrappers::Timer _timer;
    std::atomic<bool> _startAgain;

    // The run's own, on the receiver's thread only.
    ServerCmd::Controller _controller; // the run's replies go to it alone
    std::unique_ptr<Wrappers::Net> _net;
    std::unique_ptr<Wrappers::AudioIO> _output;
    RunReport _report;
    std::vector<char> _scratch; // datagrams thrown away
};

} // namespace Server
