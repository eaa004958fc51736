// locks: ports
#include "test_helpers/child_process.h"
#include "test_helpers/tcp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace std::chrono_literals;
using TestHelpers::ChildProcess;
using TestHelpers::TcpClient;

namespace {

const std::string binary = VELDRANE_BINARY_DIR "/veldrane";

TEST(ControlProgram, ServesAControllerAndOutlivesIt)
{
    ChildProcess program(binary);
    ASSERT_TRUE(program.waitForStdout("lytter på port 8888", 10s));
    EXPECT_EQ(program.countLines("lytter på port 8888"), 1);

    TcpClient controller;
    ASSERT_TRUE(controller.connect(8888, 5s));
    ASSERT_TRUE(program.waitForStdout("ServerCmd: koblet til", 10s));
    ASSERT_TRUE(controller.send("alive 7"));
    EXPECT_EQ(controller.readBytes(8, 5s), "alive 7 ");
    ASSERT_TRUE(controller.send("hei\r\n"));
    EXPECT_TRUE(program.waitForStderr("ServerCmd: Ukjent signal: hei", 5s));

    controller.close();
    ASSERT_TRUE(program.waitForStdout("connection broken", 5s));
    EXPECT_EQ(program.countLines("connection broken"), 1);

    // Still running, and the next controller is served.
    TcpClient next;
    ASSERT_TRUE(next.connect(8888, 5s));
    ASSERT_TRUE(program.waitForCount("ServerCmd: koblet til", 2, 10s, ChildProcess::Stream::Out));
    ASSERT_TRUE(next.send("alive -3 "));
    EXPECT_EQ(next.readBytes(9, 5s), "alive -3 ");
    EXPECT_TRUE(program.isRunning());
    EXPECT_EQ(program.countLines("lytter på port 8888"), 1);
}

TEST(ControlProgram, ControllerLeavingMidReplyDoesNotEndTheProgram)
{
    ChildProcess program(binary);
    ASSERT_TRUE(program.waitForStdout("lytter på port 8888", 10s));
    for (int round = 1; round <= 2; ++round) {
        TcpClient controller;
        ASSERT_TRUE(controller.connect(8888, 5s));
        ASSERT_TRUE(program.waitForCount("ServerCmd: koblet til", round, 10s));
        std::string many;
        for (int i = 0; i < 30; ++i)
            many += "alive " + std::to_string(i) + " ";
        ASSERT_TRUE(controller.send(many));
        controller.close();
        ASSERT_TRUE(program.waitForCount("connection broken", round, 5s));
    }
    EXPECT_TRUE(program.isRunning());
}

} // namespace
