#pragma once

#include "test_helpers/child_process.h"

#include <memory>
#include <string>
#include <vector>

namespace TestHelpers {

// PipeWire with its PulseAudio server, as Debian 12's desktop runs it,
// started for one test in a directory of its own: a session bus, pipewire,
// wireplumber and pipewire-pulse, with one float32 stereo null sink as the
// default sink. The graph runs at 44100 Hz, so that nothing resamples
// between a client and the sink (the recording is bit-exact), and no
// hardware is touched. The destructor
// stops them and removes the directory.
class PipeWireServer {
public:
    explicit PipeWireServer(const std::string& sinkName);
    ~PipeWireServer();
    PipeWireServer(const PipeWireServer&) = delete;
    PipeWireServer& operator=(const PipeWireServer&) = delete;

    // Whether it answers on its PulseAudio socket; if not, whyNot() says
    // what failed.
    bool started() const { return _whyNot.empty(); }
    const std::string& whyNot() const { return _whyNot; }

    // The PULSE_SERVER value that reaches it.
    std::string pulseServer() const;

private:
    void start(const std::string& sinkName);
    void writeConfiguration() const;
    std::vector<std::string> environment() const;
    // Runs pactl against this server; said gets what it wrote.
    bool pactl(const std::vector<std::string>& args, std::string& said) const;
    std::string logTail() const;

    std::string _dir;
    std::string _whyNot;
    std::unique_ptr<ChildProcess> _bus;
    std::unique_ptr<ChildProcess> _pipewire;
    std::unique_ptr<ChildProcess> _wireplumber;
    std::unique_ptr<ChildProcess> _pulse;
};

} // namespace TestHelpers
