#pragma once

#include "test_helpers/child_process.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/sink_recorder.h"
#include "test_helpers/tcp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace TestHelpers {

// A real veldrane on the fixed ports for whole-program tests, with the
// steps a controller takes. Expects the receiver to be running at the end.
class ReceiverFixture : public ::testing::Test {
public:
    static constexpr int controlPort = 8888;
    static constexpr int audioPort = 6666;

protected:
    void SetUp() override;
    void TearDown() override;

    // Connects a controller and waits for the receiver's greeting.
    void connect(TcpClient& controller);
    void expectReply(TcpClient& controller, const std::string& reply,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Connects a controller and starts a reception run.
    void startRun(TcpClient& controller);
    // Sends the stream from its beginning, paced, as a controller does after
    // "udpReady", and expects every frame of it in the recording once, in
    // order and unchanged, and nothing else audible.
    void expectPlayed(SinkRecorder& recorder, const Bytes& stream);
    // A fresh controller plays a short stream whole: the receiver has
    // come through whatever the test did to it.
    void expectNormalRun();
    // The receiver's resident memory now, from /proc.
    long residentKb() const;
    // What the sink played in the latest run, whose sender shares the
    // device's clock (`runEnded`: its end-of-run line is out): at the end
    // of the test, that line must say speed exactly 1 and tell every
    // silence in it.
    void heard(const std::vector<float>& recording, bool runEnded = false);

    std::unique_ptr<ChildProcess> veldrane;
    int greetings = 0;

private:
    struct Heard {
        int reportsBefore; // end-of-run lines before the run's own
        long silences;
        std::size_t silentFrames;
    };
    void expectToldTruly(const Heard& run);

    std::vector<Heard> _heard;
};

} // namespace TestHelpers
