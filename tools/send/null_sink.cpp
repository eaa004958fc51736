#include "send/null_sink.h"

#include "send/pulse_module.h"
#include "send/send_errors.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace Send {

namespace {

// The first byte of the child's report says how loading went.
const char loaded = '0';
const char noServer = '1';
const char refused = '2';

void writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

} // namespace

bool NullSink::validName(const std::string& name)
{
    if (name.empty() || name.size() > 64)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
}

NullSink::NullSink(const std::string& name) : _name(name)
{
    if (!validName(name))
        throw std::invalid_argument("a device name is letters, digits, '_', '-' and '.'");
    int lifeline[2];
    int report[2];
    if (pipe2(lifeline, O_CLOEXEC) != 0)
        throw NoSourceError("cannot make the output device " + name + ": no pipe to its process");
    if (pipe2(report, O_CLOEXEC) != 0) {
        ::close(lifeline[0]);
        ::close(lifeline[1]);
        throw NoSourceError("cannot make the output device " + name + ": no pipe to its process");
    }
    _child = fork();
    if (_child == 0) {
        ::close(lifeline[1]);
        ::close(report[0]);
        holdDevice(name, lifeline[0], report[1]);
    }
    ::close(lifeline[0]);
    ::close(report[1]);
    _lifeline = lifeline[1];
    if (_child < 0) {
        ::close(report[0]);
        ::close(_lifeline);
        throw NoSourceError("cannot start the process that holds the device " + name);
    }
    try {
        readReport(report[0]);
    } catch (...) {
        ::close(report[0]);
        ::close(_lifeline);
        waitpid(_child, nullptr, 0);
        throw;
    }
    ::close(report[0]);
}

NullSink::~NullSink()
{
    ::close(_lifeline);
    while (waitpid(_child, nullptr, 0) < 0 && errno == EINTR) {}
}

void NullSink::readReport(int fd)
{
    std::string text;
    char buf[256];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buf, static_cast<size_t>(n));
    }
    if (!text.empty() && text[0] == loaded)
        return;
    const std::string why = text.empty() ? "the process that holds it ended" : text.substr(1);
    if (!text.empty() && text[0] == noServer)
        throw NoSoundServerError(why);
    throw NoSourceError("cannot make the output device " + _name + ": " + why);
}

void NullSink::holdDevice(const std::string& name, int lifeline, int report)
{
    // Ctrl-C and a kill of the process group reach us too: the device
    // must outlive the sender only until the lifeline closes.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        std::signal(sig, SIG_IGN);
    int status = 0;
    try {
        PulseModule server;
        // The server would name a second device NAME.2, and NAME.monitor
        // would then record the first one.
        if (server.hasSink(name))
            throw NoSourceError("a device named " + name + " exists already");
        server.load("module-null-sink", "sink_name=" + name
                                            + " rate=44100 channels=2 sink_properties='device.description=\""
                                            + name + " (veldrane-send)\"'");
        writeAll(report, std::string(1, loaded));
        ::close(report);
        char c = 0;
        for (;;) {
            const ssize_t n = ::read(lifeline, &c, 1);
            if (n == 0 || (n < 0 && errno != EINTR))
                break;
        }
    } catch (const NoSoundServerError& e) {
        writeAll(report, noServer + std::string(e.what()));
        status = 1;
    } catch (const std::exception& e) {
        writeAll(report, refused + std::string(e.what()));
        status = 1;
    }
    _exit(status);
}

} // namespace Send
