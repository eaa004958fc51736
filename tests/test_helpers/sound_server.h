#pragma once

#include <sys/types.h>

#include <chrono>

#include <string>

namespace TestHelpers {

// A PulseAudio daemon of the test's own with the usual null sink
// (scripts/pulse.sh), for tests that freeze or kill the sound server.
// While it lives, PULSE_SERVER points at it, so recorders and programs the
// test starts from then on use it; the destructor stops it and restores
// the variable.
class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    bool running() const; // it answers
    void freeze();        // SIGSTOP
    void thaw();          // SIGCONT
    void kill();          // SIGKILL, and waits until it is gone
    bool start();         // (again) in the same place; whether it answers
    // Waits until no program plays to the server any more: an output the
    // receiver let go of while the server was frozen still plays what was
    // queued once the server is thawed, until its owner closes it.
    bool waitUntilNoStreams(std::chrono::milliseconds timeout) const;

private:
    pid_t pid() const;

    std::string _dir;
    std::string _previous;
    bool _hadPrevious = false;
};

} // namespace TestHelpers
