#include "support/recorded_run.h"

#include <chrono>

using namespace std::chrono_literals;

namespace Bench {

bool startRecordedRun(TestHelpers::ChildProcess& veldrane, TestHelpers::SinkRecorder& recorder,
                      TestHelpers::TcpClient& controller)
{
    if (!veldrane.waitForStdout("lytter på port 8888", 10s))
        return false;
    recorder.start();
    return controller.connect(8888) && controller.send("startTransmission ")
           && !controller.readUntil("udpReady 6666 ", 5s).empty();
}

} // namespace Bench
