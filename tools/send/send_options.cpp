#include "send/send_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace Send {

namespace {

bool toDouble(const std::string& text, double& value)
{
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && errno == 0 && *end == '\0' && std::isfinite(value);
}

bool toInt(const std::string& text, int& value)
{
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || v < -2147483647L || v > 2147483647L)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

namespace {

const char* const synopsis = "Usage: veldrane-send [OPTIONS] HOST FILE\n"
                             "       veldrane-send [OPTIONS] --capture [SOURCE] HOST\n"
                             "       veldrane-send [OPTIONS] --sink NAME HOST\n"
                             "Plays the audio FILE (\"-\" for an Ogg Vorbis standard input), or what\n"
                             "this computer plays, on the veldrane receiver at HOST: asks it to start\n"
                             "over TCP, then sends an Ogg Vorbis stream from its beginning in UDP\n"
                             "datagrams of at most 1024 bytes, each holding whole Ogg pages, to the\n"
                             "port it names, paced in real time from the pages' granule positions.\n"
                             "An Ogg Vorbis FILE is sent with its packets unchanged; any other format\n"
                             "FFmpeg decodes (MP3, FLAC, WAV, AIFF, Opus, AAC/M4A...) is converted to\n"
                             "44100 Hz stereo and encoded as it is sent. FILE is a local file (or a\n"
                             "pipe), whatever its name begins with: never a URL such as \"http:\".\n"
                             "\n";

const char* const optionList = "Options:\n"
                               "  --capture [SOURCE]  send what the sound server's SOURCE records\n"
                               "                   (default: the monitor of the default output, which\n"
                               "                   is everything this computer plays)\n"
                               "  --sink NAME      make an output device NAME that any program can\n"
                               "                   play to, and send what is played to it; the device\n"
                               "                   is removed when veldrane-send ends\n"
                               "  --quality Q      Vorbis quality of what is encoded here, 0 to 10\n"
                               "                   (default 5)\n"
                               "  --host HOST      the receiver (instead of the first argument)\n"
                               "  --port PORT      the receiver's control port (default 8888)\n"
                               "  --lead SECONDS   how far ahead of the player each page is sent\n"
                               "                   (default 1; 0 to 30). The first SECONDS of audio\n"
                               "                   leave at once, so a receiver with one buffer never\n"
                               "                   runs dry; the receiver's socket must hold that much.\n"
                               "                   Live audio leaves as soon as it is encoded.\n"
                               "  --repair PERCENT  repair data to send beside the stream, in percent\n"
                               "                   of its pages (default 20; 0 to 100, 0: none), from\n"
                               "                   which the receiver rebuilds pages the network lost.\n"
                               "                   A file is then sent 3 s further ahead; live audio\n"
                               "                   and a pipe's stream (standard input) wait 1.75 s\n"
                               "                   before they leave, and play that much later.\n"
                               "  --loop           send the file again and again, as one chained\n"
                               "                   stream, until interrupted (standard input: only\n"
                               "                   a stream of at most 1 MiB)\n"
                               "  --timeout SECONDS  how long to wait for the receiver's \"udpReady\"\n"
                               "                   after connecting (default 10)\n"
                               "  --quiet          no progress line (it is shown only on a terminal)\n"
                               "  --help           this text\n"
                               "\n";

const char* const behaviour = "When the receiver cannot open the stream (\"initTransmissionFailed\")\n"
                              "the stream is sent again from its beginning, as long as the receiver\n"
                              "asks for it (it allows five attempts). Of standard input only the first\n"
                              "MiB and the stream's header pages are kept: a retry after that first\n"
                              "MiB sends the header pages again, then continues live with what\n"
                              "arrives. Every second \"alive N\" is sent; a missing or wrong reply\n"
                              "is reported on standard error and does not stop the sending. A datagram\n"
                              "the network refuses is lost audio: the sending goes on, says at the end\n"
                              "how many were refused, and stops only when every datagram has been\n"
                              "refused for 5 s. At the end of the file the tool waits until the lead\n"
                              "has played out, then closes the connection, which ends playing.\n"
                              "The repair data travels in datagrams that are no Ogg pages, whose\n"
                              "bytes players that do not know them skip: each group of up to 48 pages\n"
                              "(3 s of a file, 1 s of live audio) gets its pieces right after its\n"
                              "last page, each in a datagram of its own, and as many of the group's\n"
                              "pages as pieces arrived can be rebuilt. Pages are then at most 1002\n"
                              "bytes, so that a piece with its header fits a datagram.\n"
                              "\n";

const char* const exitStatuses = "Exit status:\n"
                                 "  0  the whole file was sent and played out\n"
                                 "  1  an unexpected error\n"
                                 "  2  usage error\n"
                                 "  3  no receiver answers (cannot connect, or no \"udpReady\" in time)\n"
                                 "  4  the input holds no audio that can be decoded (standard input: it\n"
                                 "     is not an Ogg Vorbis stream)\n"
                                 "  5  the receiver gave up (it failed to open the stream five times)\n"
                                 "  6  the connection to the receiver was lost, or the network refused\n"
                                 "     every datagram for 5 s\n"
                                 "  7  the input cannot be opened or read (no such file, no permission),\n"
                                 "     or a decoding error cut it off after some of it was sent\n"
                                 "  8  no sound server answers (--capture, --sink)\n"
                                 "  9  the sound server has no such source, or the device (or the\n"
                                 "     process that holds it) cannot be made\n"
                                 "  10 the Vorbis encoder refuses its settings\n";

} // namespace

std::string SendOptions::usage()
{
    return std::string(synopsis) + optionList + behaviour + exitStatuses;
}

bool SendOptions::fail(const std::string& message)
{
    _error = message;
    return false;
}

// --capture takes the word after it as its SOURCE only when that leaves
// the HOST: which one it is shows once every word is read.
bool SendOptions::parseLive(std::vector<std::string> positional)
{
    if (_sourceAt >= 0 && positional.size() == (_hostGiven ? 1u : 2u)) {
        source = positional[static_cast<size_t>(_sourceAt)];
        positional.erase(positional.begin() + _sourceAt);
    }
    if (positional.size() != (_hostGiven ? 0u : 1u))
        return fail("with --capture or --sink give the receiver's HOST and no FILE");
    if (!_hostGiven)
        host = positional[0];
    if (!_leadGiven)
        lead = 0;
    if (loop)
        return fail("--loop needs a FILE");
    if (host.empty())
        return fail("the host is empty");
    return true;
}

bool SendOptions::parse(int argc, const char* const* argv)
{
    ArgWalk args(argc, argv);
    std::vector<std::string> positional;
    while (args.more()) {
        const std::string arg = args.next();
        if (arg == "--help" || arg == "-h") {
            _help = true;
            return true;
        }
        Outcome outcome = sourceOption(arg, args, positional.size());
        if (outcome == Outcome::NotMine)
            outcome = sendingOption(arg, args);
        if (outcome == Outcome::Wrong)
            return false;
        if (outcome == Outcome::Taken)
            continue;
        if (arg.size() > 1 && arg[0] == '-' && arg != "-")
            return fail("unknown option " + arg);
        positional.push_back(arg);
    }
    if (capture && !sink.empty())
        return fail("give --capture or --sink, not both");
    if (capture || !sink.empty())
        return parseLive(positional);
    return parseFile(positional);
}

SendOptions::Outcome SendOptions::sourceOption(const std::string& arg, ArgWalk& args, size_t positionals)
{
    std::string v;
    if (arg == "--capture") {
        capture = true;
        if (args.nextIsWord())
            _sourceAt = static_cast<long>(positionals);
    } else if (arg.rfind("--capture=", 0) == 0) {
        capture = true;
        source = arg.substr(10);
    } else if (arg == "--sink" || arg.rfind("--sink=", 0) == 0) {
        if (arg != "--sink")
            sink = arg.substr(7);
        else if (!args.value(sink))
            sink.clear();
        if (sink.empty())
            return wrong("--sink needs a device name");
    } else if (arg == "--quality") {
        if (!args.value(v) || !toDouble(v, quality) || quality < 0 || quality > 10)
            return wrong("--quality needs a number from 0 to 10");
    } else {
        return Outcome::NotMine;
    }
    return Outcome::Taken;
}

SendOptions::Outcome SendOptions::sendingOption(const std::string& arg, ArgWalk& args)
{
    std::string v;
    if (arg == "--loop") {
        loop = true;
    } else if (arg == "--quiet" || arg == "-q") {
        progress = false;
    } else if (arg == "--host") {
        if (!args.value(host) || host.empty())
            return wrong("--host needs a host name");
        _hostGiven = true;
    } else if (arg == "--port") {
        if (!args.value(v) || !toInt(v, port) || port < 1 || port > 65535)
            return wrong("--port needs a port number from 1 to 65535");
    } else if (arg == "--lead") {
        if (!args.value(v) || !toDouble(v, lead) || lead < 0 || lead > 30)
            return wrong("--lead needs a number of seconds from 0 to 30");
        _leadGiven = true;
    } else if (arg == "--repair") {
        if (!args.value(v) || !toInt(v, repair) || repair < 0 || repair > 100)
            return wrong("--repair needs a percentage from 0 to 100");
    } else if (arg == "--timeout") {
        double seconds = 0;
        if (!args.value(v) || !toDouble(v, seconds) || seconds <= 0 || seconds > 3600)
            return wrong("--timeout needs a number of seconds above 0");
        timeoutMs = static_cast<int>(seconds * 1000);
    } else {
        return Outcome::NotMine;
    }
    return Outcome::Taken;
}

bool SendOptions::parseFile(const std::vector<std::string>& positional)
{
    const size_t wanted = _hostGiven ? 1 : 2;
    if (positional.size() != wanted)
        return fail(_hostGiven ? "give one FILE (or - for standard input)"
                               : "give the receiver's HOST and one FILE (or - for standard input)");
    if (!_hostGiven)
        host = positional[0];
    path = positional.back();
    if (host.empty())
        return fail("the host is empty");
    return true;
}

SendOptions::Outcome SendOptions::wrong(const std::string& message)
{
    fail(message);
    return Outcome::Wrong;
}

} // namespace Send
