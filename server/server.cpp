#include "utils/console.h"
#include "utils/observer.h"
#include "wrappers/sdl_timer.h"

int main()
{
    Utils::lineBufferConsole();

    Wrappers::Timer timer;
    for (;;) {
        Utils::Signal::run();
        timer.sleep(50);
    }
}
