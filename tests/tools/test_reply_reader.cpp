#include "send/reply_reader.h"

#include <gtest/gtest.h>

#include <vector>

using Send::Reply;
using Send::ReplyReader;

namespace {

std::vector<Reply> drain(ReplyReader& r)
{
    std::vector<Reply> out;
    Reply reply;
    while (r.next(reply))
        out.push_back(reply);
    return out;
}

} // namespace

TEST(ReplyReader, JoinsRepliesSplitAtAnyByte)
{
    const std::string wire = "udpReady 6666 alive 1 initTransmissionFailed alive -7 ";
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        ReplyReader r;
        std::vector<Reply> got;
        r.feed(wire.substr(0, cut));
        for (const Reply& reply : drain(r))
            got.push_back(reply);
        r.feed(wire.substr(cut));
        for (const Reply& reply : drain(r))
            got.push_back(reply);
        ASSERT_EQ(got.size(), 4u) << "cut at " << cut;
        EXPECT_EQ(got[0].kind, Reply::Kind::UdpReady);
        EXPECT_EQ(got[0].value, 6666);
        EXPECT_EQ(got[1].kind, Reply::Kind::Alive);
        EXPECT_EQ(got[1].value, 1);
        EXPECT_EQ(got[2].kind, Reply::Kind::InitTransmissionFailed);
        EXPECT_EQ(got[3].kind, Reply::Kind::Alive);
        EXPECT_EQ(got[3].value, -7);
    }
}

TEST(ReplyReader, AWordIsCompleteOnlyWhenWhitespaceFollows)
{
    ReplyReader r;
    Reply reply;
    r.feed("udpReady 66");
    EXPECT_FALSE(r.next(reply)); // the port may go on
    r.feed("66");
    EXPECT_FALSE(r.next(reply));
    r.feed("\r\n");
    ASSERT_TRUE(r.next(reply));
    EXPECT_EQ(reply.kind, Reply::Kind::UdpReady);
    EXPECT_EQ(reply.value, 6666);

    r.feed("udpReady");
    EXPECT_FALSE(r.next(reply));
    r.feed("\t");
    EXPECT_FALSE(r.next(reply)); // still waiting for the port
    r.feed("1234\n");
    ASSERT_TRUE(r.next(reply));
    EXPECT_EQ(reply.value, 1234);
    EXPECT_FALSE(r.next(reply));
}

TEST(ReplyReader, BadArgumentsAndUnknownWordsDoNotSwallowTheNextReply)
{
    ReplyReader r;
    r.feed("udpReady initTransmissionFailed udpReady 70000 alive x readerror hello udpReady 1 ");
    std::vector<Reply> got = drain(r);
    ASSERT_EQ(got.size(), 9u);
    EXPECT_EQ(got[0].kind, Reply::Kind::Malformed);
    EXPECT_EQ(got[1].kind, Reply::Kind::InitTransmissionFailed);
    EXPECT_EQ(got[2].kind, Reply::Kind::Malformed); // port out of range
    EXPECT_EQ(got[3].kind, Reply::Kind::Unknown);   // 70000
    EXPECT_EQ(got[4].kind, Reply::Kind::Malformed);
    EXPECT_EQ(got[5].kind, Reply::Kind::Unknown); // x
    EXPECT_EQ(got[6].kind, Reply::Kind::ReadError);
    EXPECT_EQ(got[7].kind, Reply::Kind::Unknown);
    EXPECT_EQ(got[7].text, "hello");
    EXPECT_EQ(got[8].kind, Reply::Kind::UdpReady);
    EXPECT_EQ(got[8].value, 1);

    // A run of bytes with no whitespace cannot grow without bound.
    ReplyReader flood;
    flood.feed(std::string(10000, 'a'));
    std::vector<Reply> words = drain(flood);
    EXPECT_FALSE(words.empty());
    for (const Reply& w : words)
        EXPECT_EQ(w.kind, Reply::Kind::Unknown);
}
