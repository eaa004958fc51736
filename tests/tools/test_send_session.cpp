#include "send/encoded_source.h"
#include "send/input_stream.h"
#include "send/ogg_page_reader.h"
#include "send/ogg_repager.h"
#include "send/send_session.h"
#include "test_helpers/fake_receiver.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/tcp_client.h"
#include "test_helpers/temp_file.h"
#include "test_helpers/wait.h"
#include "wrappers/net.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
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

// An Ogg Vorbis file as the tool sends it: re-paged for datagrams of 1024
// bytes.
struct FileSource {
    explicit FileSource(const std::string& path) : input(path), reader(input), pages(reader, 1024) {}
    Send::InputStream input;
    Send::OggPageReader reader;
    Send::OggRepager pages;
};

// Empty when every datagram of the attempt is whole Ogg pages, each at most
// maxPage bytes, back to back; else where the first one is not.
std::string pagesFault(const FakeReceiver::Attempt& a, size_t maxPage)
{
    size_t at = 0;
    for (size_t d = 0; d < a.datagramSizes.size(); ++d) {
        const size_t end = at + a.datagramSizes[d];
        while (at < end) {
            const unsigned char* p = a.bytes.data() + at;
            if (end - at < 27 || std::memcmp(p, "OggS", 4) != 0 || end - at < 27u + p[26])
                return "datagram " + std::to_string(d) + " does not start a page at its byte "
                       + std::to_string(at + a.datagramSizes[d] - end);
            size_t page = 27u + p[26];
            for (int i = 0; i < p[26]; ++i)
                page += p[27 + i];
            if (page > maxPage || at + page > end)
                return "datagram " + std::to_string(d) + " holds a page of " + std::to_string(page)
                       + " bytes that does not fit";
            at += page;
        }
    }
    return "";
}

Bytes prefix(const Bytes& b, size_t n)
{
    return Bytes(b.begin(), b.begin() + static_cast<long>(std::min(n, b.size())));
}

// A sound card whose clock runs far ahead of ours: 15 s of audio at once.
struct FastCard : Send::PcmSource {
    int left = 1500;
    bool read(std::vector<float>& s) override
    {
        s.assign(left > 0 ? 882 : 0, 0.25f);
        return left-- > 0;
    }
    void rewind() override {}
    bool live() const override { return true; }
};

} // namespace

TEST(SendSession, LiveAudioLeavesAsSoonAsItIsRecorded)
{
    FastCard card;
    Send::EncodedSource source(card, 0.3, 1024);
    auto receiver = std::make_unique<FakeReceiver>(FakeReceiver::Options());
    SendSession session(configFor(receiver->tcpPort()), source);
    std::thread sender([&session] { session.run(); });
    const auto ended = [&] { // the last page received ends the stream
        const auto a = receiver->attempts();
        const char tag[] = "OggS";
        const auto last = a.empty() ? Bytes::const_iterator()
                                    : std::find_end(a[0].bytes.begin(), a[0].bytes.end(), tag, tag + 4);
        return !a.empty() && a[0].bytes.end() - last > 5 && (last[5] & 4);
    };
    EXPECT_TRUE(TestHelpers::waitFor(ended, std::chrono::seconds(5)));
    receiver.reset();
    sender.join();
}

TEST(SendSession, ADatagramTheNetworkRefusesIsLostAudioNotTheEnd)
{
    TempFile file(stream(0.5));
    FakeReceiver receiver(FakeReceiver::Options{});
    FileSource input(file.path());
    SessionConfig c = configFor(receiver.tcpPort());
    c.openStream = [](const std::string&, int) { return std::make_unique<Wrappers::Net>(); }; // refuses all
    SendSession session(c, input.pages);
    EXPECT_EQ(session.run(), SendSession::Result::Finished);
}

TEST(SendSession, AnUnexpectedReplyIsShownEscaped)
{
    TempFile file(stream(0.3));
    FakeReceiver::Options o;
    o.before = "\x1b[2J ";
    FakeReceiver receiver(o);
    FileSource input(file.path());
    SendSession session(configFor(receiver.tcpPort()), input.pages);
    testing::internal::CaptureStderr();
    session.run();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("unexpected reply \"\\x1b[2J\""), std::string::npos) << err;
}

TEST(SendSession, SendsTheStreamAgainFromItsBeginningAfterEachFailedAttempt)
{
    TempFile file(stream(1.5));
    FakeReceiver::Options o;
    o.failFirst = 2;
    o.splitReplies = true; // every reply arrives cut into pieces
    FakeReceiver receiver(o);
    FileSource input(file.path());
    SendSession session(configFor(receiver.tcpPort()), input.pages);

    EXPECT_EQ(session.run(), SendSession::Result::Finished);
    EXPECT_EQ(session.failures(), 2);
    EXPECT_EQ(session.attempts(), 3);
    EXPECT_EQ(receiver.count("startTransmission"), 1);
    EXPECT_EQ(receiver.count("startTransmissionAgain"), 2);
    EXPECT_GE(receiver.count("alive"), 1);

    std::vector<FakeReceiver::Attempt> attempts = receiver.attempts();
    ASSERT_EQ(attempts.size(), 3u);
    const Bytes& whole = attempts.back().bytes;
    for (const FakeReceiver::Attempt& a : attempts) {
        ASSERT_FALSE(a.bytes.empty());
        EXPECT_EQ(a.bytes, prefix(whole, a.bytes.size())) << "an attempt did not start at byte 0";
        EXPECT_EQ(pagesFault(a, 1024), "");
    }
    // Re-paged, the packets unchanged: the same audio, to the sample.
    EXPECT_NE(whole, file.bytes());
    EXPECT_EQ(TestHelpers::referenceDecode(whole), TestHelpers::referenceDecode(file.bytes()));
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
    FileSource input(file.path());
    SendSession session(configFor(receiver.tcpPort()), input.pages);
    EXPECT_EQ(session.run(), SendSession::Result::GaveUp);
    EXPECT_EQ(session.failures(), 5);
    EXPECT_EQ(session.attempts(), 5);
    EXPECT_EQ(receiver.attempts().size(), 5u);
}

TEST(SendSession, NoReceiverWhenNothingListensOrNothingAnswers)
{
    TempFile file(stream(0.5));
    {
        FileSource input(file.path());
        SendSession session(configFor(TestHelpers::freePort()), input.pages);
        EXPECT_EQ(session.run(), SendSession::Result::NoReceiver);
    }
    {
        FileSource input(file.path());
        SessionConfig c = configFor(1);
        c.host = "no-such-host.invalid";
        SendSession session(c, input.pages);
        EXPECT_EQ(session.run(), SendSession::Result::NoReceiver);
    }
    FakeReceiver::Options o;
    o.announce = false;
    FakeReceiver silent(o);
    FileSource input(file.path());
    SessionConfig c = configFor(silent.tcpPort());
    c.readyTimeoutMs = 700;
    SendSession session(c, input.pages);
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
    FileSource input(file.path());
    SendSession session(configFor(receiver.tcpPort()), input.pages);
    EXPECT_EQ(session.run(), SendSession::Result::ConnectionLost);
}

TEST(SendSession, LoopSendsTheFileAgainAsANewLinkOfAChain)
{
    TempFile file(stream(0.5));
    size_t sent = 0;
    {
        FileSource pages(file.path());
        Send::OggPage page;
        while (pages.pages.next(page) == Send::PageSource::Status::Page)
            sent += page.bytes.size();
    }
    FakeReceiver::Options o;
    o.closeAfterBytes = sent * 2 + 1;
    FakeReceiver receiver(o);
    FileSource input(file.path());
    SessionConfig c = configFor(receiver.tcpPort());
    c.loop = true;
    SendSession session(c, input.pages);
    EXPECT_EQ(session.run(), SendSession::Result::ConnectionLost);
    std::vector<FakeReceiver::Attempt> attempts = receiver.attempts();
    ASSERT_EQ(attempts.size(), 1u);
    std::vector<long> links;
    TestHelpers::referenceDecode(prefix(attempts[0].bytes, sent * 2), &links);
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
        FileSource input(file.path());
        SessionConfig c = configFor(receiver.tcpPort());
        c.aliveIntervalMs = 300;
        c.aliveSilenceMs = 600;
        c.drainSeconds = 1.0;
        SendSession session(c, input.pages);
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
