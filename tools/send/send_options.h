#pragma once

#include "utils/ports.h"

#include <string>
#include <vector>

namespace Send {

// The command line of veldrane-send.
class SendOptions {
public:
    // Fills the options from argv; false with a message in error() when the
    // command line is wrong. help() tells whether --help was asked for.
    bool parse(int argc, const char* const* argv);

    static std::string usage();

    std::string host;
    int port = Utils::controlPort;
    std::string path; // "-" for standard input; empty with --capture or --sink
    double lead = 1.0;
    bool leadGiven = false;
    double quality = 5; // Vorbis, 0 to 10, for what is encoded here
    bool capture = false;
    std::string source; // of --capture; empty: the monitor of the default output
    std::string sink;   // of --sink

    bool loop = false;
    bool progress = true; // on a terminal only; --quiet turns it off
    int timeoutMs = 10000;

    bool help() const { return _help; }
    const std::string& error() const { return _error; }

private:
    bool fail(const std::string& message);
    bool parseLive(std::vector<std::string>& positional, bool hostGiven, long sourceAt);

    bool _help = false;
    std::string _error;
};

} // namespace Send
