#include "server/audioreceiver.h"
#include "server/servercmd.h"
#include "utils/console.h"
#include "utils/errors.h"
#include "utils/observer.h"
#include "wrappers/sdl_timer.h"

#include <csignal>
#include <memory>

int main()
{
    // A reply written to a controller that has just gone must fail as an
    // error the command server handles, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    Utils::lineBufferConsole();

    std::unique_ptr<Server::ServerCmd> serverCmd;
    try {
        serverCmd = std::make_unique<Server::ServerCmd>(8888);
    } catch (const Utils::NetErrorInit&) {
        Utils::printErr("veldrane: cannot listen on TCP port 8888 (in use by another program?)\n");
        return 1;
    }
    serverCmd->startThread();
    Utils::printOut("lytter på port 8888\n");

    Server::AudioReceiver audioReceiver(serverCmd.get());

    Wrappers::Timer timer;
    for (;;) {
        Utils::Signal::run();
        timer.sleep(50);
    }
}
