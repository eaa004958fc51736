#include "server/audioreceiver.h"
#include "server/servercmd.h"
#include "utils/console.h"
#include "utils/observer.h"
#include "wrappers/sdl_timer.h"

#include <csignal>

int main()
{
    // A reply written to a controller that has just gone must fail as an
    // error the command server handles, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    Utils::lineBufferConsole();

    Server::ServerCmd serverCmd(8888);
    serverCmd.startThread();
    Utils::printOut("lytter på port 8888\n");

    Server::AudioReceiver audioReceiver(&serverCmd);

    Wrappers::Timer timer;
    for (;;) {
        Utils::Signal::run();
        timer.sleep(50);
    }
}
