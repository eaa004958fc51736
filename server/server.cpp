#include "server/audioreceiver.h"
#include "server/servercmd.h"
#include "utils/console.h"
#include "utils/observer.h"
#include "utils/ports.h"
#include "wrappers/sdl_timer.h"

#include <csignal>
#include <string>

int main()
{
    // A reply written to a controller that has just gone must fail as an
    // error the command server handles, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    Utils::lineBufferConsole();

    Server::ServerCmd serverCmd(Utils::controlPort);
    serverCmd.startThread();
    Utils::printOut("lytter på port " + std::to_string(Utils::controlPort) + "\n");

    Server::AudioReceiver audioReceiver(&serverCmd);

    Wrappers::Timer timer;
    for (;;) {
        Utils::Signal::run();
        timer.sleep(50);
    }
}
