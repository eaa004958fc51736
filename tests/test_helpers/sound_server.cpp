#include "test_helpers/sound_server.h"

#include "test_helpers/wait.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

using namespace std::chrono_literals;

namespace TestHelpers {

namespace {

const std::string pulseScript = VELDRANE_SOURCE_DIR "/scripts/pulse.sh";

bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

} // namespace

SoundServer::SoundServer()
{
    char dir[] = "/tmp/veldrane-own-pulse.XXXXXX";
    if (::mkdtemp(dir))
        _dir = dir;
    if (const char* previous = std::getenv("PULSE_SERVER")) {
        _previous = previous;
        _hadPrevious = true;
    }
    ::setenv("PULSE_SERVER", ("unix:" + _dir + "/native").c_str(), 1);
    start();
}

SoundServer::~SoundServer()
{
    thaw();
    run(pulseScript + " stop " + _dir + " >/dev/null 2>&1");
    run("rm -rf " + _dir);
    if (_hadPrevious)
        ::setenv("PULSE_SERVER", _previous.c_str(), 1);
    else
        ::unsetenv("PULSE_SERVER");
}

bool SoundServer::start()
{
    return !_dir.empty() && run(pulseScript + " start " + _dir + " >/dev/null 2>&1");
}

bool SoundServer::running() const
{
    return run("pactl info >/dev/null 2>&1");
}

bool SoundServer::waitUntilNoStreams(std::chrono::milliseconds timeout) const
{
    return waitFor([] { return run("test -z \"$(pactl list short sink-inputs 2>/dev/null)\""); }, timeout);
}

pid_t SoundServer::pid() const
{
    std::ifstream in(_dir + "/pulseaudio.pid");
    pid_t pid = -1;
    in >> pid;
    return pid;
}

void SoundServer::freeze()
{
    if (pid() > 0)
        ::kill(pid(), SIGSTOP);
}

void SoundServer::thaw()
{
    if (pid() > 0)
        ::kill(pid(), SIGCONT);
}

void SoundServer::kill()
{
    const pid_t p = pid();
    if (p <= 0)
        return;
    ::kill(p, SIGKILL);
    waitFor([p] { return ::kill(p, 0) != 0; }, 5s);
    ::unlink((_dir + "/pulseaudio.pid").c_str());
}

} // namespace TestHelpers
