#include "send/input_stream.h"
#include "send/send_session.h"
#include "test_helpers/fake_receiver.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/temp_file.h"
#include "test_helpers/wait.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

using Send::SendSession;
using Send::SessionConfig;
using TestHelpers::Bytes;
using TestHelpers::FakeReceiver;
using TestHelpers::TempFile;

namespace {

Bytes stream(double seconds)
{
    TestHelpers::OggParams params;
    params.seconds = seconds;
    return TestHelpers::encodeOgg(params);
}

SessionConfig configFor(int port)
{
    SessionConfig c;
    c.host = "127.0.0.1";
    c.port = port;
    c.lead = 0.5;
    c.drainSeconds = 0.2;
    c.readyTimeoutMs = 5000;
    c.retryTimeoutMs = 1000;
    return c;
}

Bytes prefix(const Bytes& b, size_t n)
{
    return Bytes(b.begin(), b.begin() + static_cast<long>(std::min(n, b.size())));
}

} // namespace

TEST(SendSession, SendsTheStreamAgainFromItsBeginningAfterEachFailedAttempt)
{
    TempFile file(stream(1.5));
    FakeReceiver::Options o;
    o.failFirst = 2;
    o.splitReplies = true; // every reply arrives cut into pieces
    FakeReceiver receiver(o);
    Send::InputStream input(file.path());
    SendSession session(configFor(receiver.tcpPort()), input);

    EXPECT_EQ(session.run(), SendSession::Result::Finished);
    EXPECT_EQ(session.failures(), 2);
    EXPECT_EQ(session.attempts(), 3);
    EXPECT_EQ(receiver.count("startTransmission"), 1);
    EXPECT_EQ(receiver.count("startTransmissionAgain"), 2);
    EXPECT_GE(receiver.count("alive"), 1);

    std::vector<FakeReceiver::Attempt> attempts = receiver.attempts();
    ASSERT_EQ(attempts.size(), 3u);
    for (const FakeReceiver::Attempt& a : attempts) {
        ASSERT_FALSE(a.bytes.empty());
        EXPECT_EQ(a.bytes, prefix(file.bytes(), a.bytes.size())) << "an attempt did not start at byte 0";
        EXPECT_LE(a.largestDatagram, 1024u);
    }
    EXPECT_EQ(attempts.back().bytes, file.bytes());
    EXPECT_EQ(attempts.back().largestDatagram, 1024u);
    // Paced: the end of a 1.5 s stream with a 0.5 s lead cannot have left
    // at once (its last page starts well after 0.5 s of audio).
    EXPECT_GE(attempts.back().lastDatagram - attempts.back().announced, std::chrono::milliseconds(300));
    EXPECT_TRUE(TestHelpers::waitFor([&] { return receiver.senderClosed(); }, std::chrono::seconds(5)));
}

TEST(SendSession, ReportsGivingUpAfterFiveFailedAttempts)
{
    TempFile file(stream(0.5));
    FakeReceiver::Options o;
    o.failFirst = 5;
    FakeReceiver receiver(o);
    Send::InputStream input(file.path());
    SendSession session(configFor(receiver.tcpPort()), input);
    EXPECT_EQ(session.run(), SendSession::Result::GaveUp);
    EXPECT_EQ(session.failures(), 5);
    EXPECT_EQ(session.attempts(), 5);
    EXPECT_EQ(receiver.attempts().size(), 5u);
}

TEST(SendSession, NoReceiverWhenNothingListensOrNothingAnswers)
{
    TempFile file(stream(0.5));
    {
        Send::InputStream input(file.path());
        SendSession session(configFor(TestHelpers::freePort()), input);
        EXPECT_EQ(session.run(), SendSession::Result::NoReceiver);
    }
    {
        Send::InputStream input(file.path());
        SessionConfig c = configFor(1);
        c.host = "no-such-host.invalid";
        SendSession session(c, input);
        EXPECT_EQ(session.run(), SendSession::Result::NoReceiver);
    }
    FakeReceiver::Options o;
    o.announce = false;
    FakeReceiver silent(o);
    Send::InputStream input(file.path());
    SessionConfig c = configFor(silent.tcpPort());
    c.readyTimeoutMs = 700;
    SendSession session(c, input);
    EXPECT_EQ(session.run(), SendSession::Result::NoReceiver);
    EXPECT_EQ(silent.count("startTransmission"), 1);
    EXPECT_EQ(session.bytesSent(), 0);
}

TEST(SendSession, ConnectionLostWhenTheReceiverCloses)
{
    TempFile file(stream(2.0));
    FakeReceiver::Options o;
    o.closeAfterBytes = 1;
    FakeReceiver receiver(o);
    Send::InputStream input(file.path());
    SendSession session(configFor(receiver.tcpPort()), input);
    EXPECT_EQ(session.run(), SendSession::Result::ConnectionLost);
}

TEST(SendSession, LoopSendsTheFileAgainAsANewLinkOfAChain)
{
    TempFile file(stream(0.5));
    FakeReceiver::Options o;
    o.closeAfterBytes = file.bytes().size() * 2 + 1;
    FakeReceiver receiver(o);
    Send::InputStream input(file.path());
    SessionConfig c = configFor(receiver.tcpPort());
    c.loop = true;
    SendSession session(c, input);
    EXPECT_EQ(session.run(), SendSession::Result::ConnectionLost);
    std::vector<FakeReceiver::Attempt> attempts = receiver.attempts();
    ASSERT_EQ(attempts.size(), 1u);
    Bytes twice = prefix(attempts[0].bytes, file.bytes().size() * 2);
    ASSERT_EQ(twice.size(), file.bytes().size() * 2);
    EXPECT_EQ(prefix(twice, file.bytes().size()), file.bytes());
    std::vector<long> links;
    TestHelpers::referenceDecode(twice, &links);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0], links[1]);
}

TEST(SendSession, ReportsWrongAndMissingAliveRepliesWithoutStopping)
{
    TempFile file(stream(1.5));
    for (bool answer : {true, false}) {
        FakeReceiver::Options o;
        o.answerAlive = answer;
        o.aliveOffset = 1000;
        FakeReceiver receiver(o);
        Send::InputStream input(file.path());
        SessionConfig c = configFor(receiver.tcpPort());
        c.aliveIntervalMs = 300;
        c.aliveSilenceMs = 600;
        c.drainSeconds = 1.0;
        SendSession session(c, input);
        testing::internal::CaptureStderr();
        SendSession::Result result = session.run();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, SendSession::Result::Finished);
        if (answer)
            EXPECT_NE(err.find("wrong reply \"alive 1001\""), std::string::npos) << err;
        else
            EXPECT_NE(err.find("no reply to \"alive 1\""), std::string::npos) << err;
        EXPECT_GE(receiver.count("alive"), 3);
    }
}
