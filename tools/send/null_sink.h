#pragma once

#include <string>
#include <sys/types.h>

namespace Send {

// An output device named NAME in the sound server, which any program can
// play to, for as long as this program runs. A child process of ours loads
// it and holds it; it unloads it when our end of the pipe between us
// closes, which the kernel does however this process ends, so that no
// device is left behind, not even after a crash or SIGKILL.
class NullSink {
public:
    // Throws std::invalid_argument for a name the server would not take,
    // NoSoundServerError, or NoSourceError when the server refuses it (a
    // device of that name exists already).
    explicit NullSink(const std::string& name);
    // Removes the device and waits until it is gone.
    ~NullSink();
    NullSink(const NullSink&) = delete;
    NullSink& operator=(const NullSink&) = delete;

    // The source that records what is played to the device.
    std::string monitor() const { return _name + ".monitor"; }

    static bool validName(const std::string& name);

private:
    [[noreturn]] static void holdDevice(const std::string& name, int lifeline, int report);
    void readReport(int fd);

    std::string _name;
    pid_t _child = -1;
    int _lifeline = -1; // closing it tells the child to remove the device
};

} // namespace Send
