#pragma once

#include "test_helpers/child_process.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"

namespace Bench {

// Waits for a freshly started receiver to listen, starts recording the
// null sink, and starts a reception run as a controller does: false when
// any step does not happen in time.
bool startRecordedRun(TestHelpers::ChildProcess& veldrane, TestHelpers::SinkRecorder& recorder,
                      TestHelpers::TcpClient& controller);

} // namespace Bench
