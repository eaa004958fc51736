#pragma once

#include "send/arg_walk.h"
#include "utils/protocol.h"

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
    double quality = 5; // Vorbis, 0 to 10, for what is encoded here
    bool capture = false;
    std::string source; // of --capture; empty: the monitor of the default output
    std::string sink;   // of --sink

    int repair = 20; // repair pieces, in percent of the pages of each group
    bool loop = false;
    bool progress = true; // on a terminal only; --quiet turns it off
    int timeoutMs = 10000;

    bool help() const { return _help; }
    const std::string& error() const { return _error; }

private:
    // Taken: the option and its value are read; NotMine: not one of the
    // options that function reads; Wrong: error() says why.
    enum class Outcome { Taken, NotMine, Wrong };
    Outcome sourceOption(const std::string& arg, ArgWalk& args, size_t positionals);
    Outcome sendingOption(const std::string& arg, ArgWalk& args);
    Outcome wrong(const std::string& message);
    bool parseFile(const std::vector<std::string>& positional);
    bool parseLive(std::vector<std::string> positional);
    bool fail(const std::string& message);

    bool _help = false;
    bool _hostGiven = false;
    bool _leadGiven = false;
    long _sourceAt = -1; // of the word after --capture among the others
    std::string _error;
};

} // namespace Send
