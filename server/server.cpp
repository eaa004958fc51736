#include "server/audioreceiver.h"
#include "server/servercmd.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "utils/observer.h"
#include "utils/protocol.h"
#include "wrappers/sdl_timer.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int exitUsage = 2;

const char* const usage = "Usage: veldrane [--help | --version]\n"
                          "Plays a live Ogg Vorbis stream on the local sound server. A controller\n"
                          "connects to TCP port 8888 and sends \"startTransmission\"; the stream then\n"
                          "arrives in UDP datagrams on port 6666. It runs until it is killed, with a\n"
                          "trace of what happens on the console. See veldrane(1).\n"
                          "\n"
                          "Options:\n"
                          "  --help      this text\n"
                          "  --version   the version\n"
                          "\n"
                          "Exit status: 0 after --help or --version, 2 for any other argument;\n"
                          "without arguments it serves until it is killed.\n";

// The receiver is configured by nothing; these two only answer questions.
// Returns the exit status when the command line was answered here, or -1
// to go on and serve.
int answerCommandLine(int argc, char** argv)
{
    if (argc == 1)
        return -1;
    const std::string arg = argv[1];
    if (argc == 2 && arg == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && arg == "--version") {
        std::fputs("veldrane " VELDRANE_VERSION "\n", stdout);
        return 0;
    }
    Utils::printErr(argc == 2 ? "veldrane: unknown argument " + arg + " (see veldrane --help)\n"
                              : std::string("veldrane: too many arguments (see veldrane --help)\n"));
    return exitUsage;
}

// The command server, listening; null when it cannot be had, after one
// line on standard error that says why.
std::unique_ptr<Server::ServerCmd> listenForControllers()
{
    try {
        return std::make_unique<Server::ServerCmd>(Utils::controlPort);
    } catch (const Utils::NetErrorLibrary&) {
        Utils::printErr("veldrane: cannot set up its networking (SDL_net would not start)\n");
    } catch (const Utils::NetErrorWakeup&) {
        Utils::printErr("veldrane: cannot make its wake-up descriptor (eventfd)\n");
    } catch (const Utils::NetErrorInit&) {
        Utils::printErr("veldrane: cannot listen on TCP port " + std::to_string(Utils::controlPort)
                        + " (in use by another program?)\n");
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (const int status = answerCommandLine(argc, argv); status >= 0)
        return status;

    // A reply written to a controller that has just gone must fail as an
    // error the command server handles, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    Utils::lineBufferConsole();

    const std::unique_ptr<Server::ServerCmd> serverCmd = listenForControllers();
    if (!serverCmd)
        return 1;
    serverCmd->startThread();
    Utils::printOut("lytter på port " + std::to_string(Utils::controlPort) + "\n");

    Server::AudioReceiver audioReceiver(serverCmd.get());

    Wrappers::Timer timer;
    for (;;) {
        Utils::Signal::run();
        timer.sleep(50);
    }
}
