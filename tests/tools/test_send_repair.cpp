#include "audio/intake/page_fields.h"
#include "audio/intake/repair_piece.h"
#include "send/input_stream.h"
#include "send/ogg_page_reader.h"
#include "send/ogg_repager.h"
#include "send/repair_stream.h"
#include "send/send_session.h"
#include "test_helpers/fake_receiver.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/temp_file.h"
#include "test_helpers/wait.h"
#include "wrappers/isal_repair_code.h"
#include "wrappers/net.h"
#include "wrappers/net_implementation.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>

using Audio::PageFields;
using TestHelpers::Bytes;

namespace {

struct Sent {
    std::mutex mutex;
    Bytes bytes;              // every datagram, in the order sent
    bool repairEnded = false; // the repair stream's last page left
};

// The stream's socket, keeping what is sent.
class Recorder : public Wrappers::NetImplementation {
public:
    explicit Recorder(std::shared_ptr<Sent> sent) : _sent(std::move(sent)) {}
    void setupListen(int) override {}
    void setupSend(std::string, int) override {}
    int receive(void*, int, int, int) override { return 0; }
    Wrappers::NetImplementation* accept(const std::function<bool()>&) override { return nullptr; }
    int sendData(const char* data, int len) override
    {
        std::lock_guard<std::mutex> lock(_sent->mutex);
        _sent->bytes.insert(_sent->bytes.end(), data, data + len);
        const auto* page = reinterpret_cast<const unsigned char*>(data);
        _sent->repairEnded |= PageFields::last(page) && PageFields::serial(page) != 1; // 1: the file's
        return len;
    }

private:
    std::shared_ptr<Sent> _sent;
};

// What the session sends of the file with repair, all at once.
Bytes sendWithRepair(const std::string& path)
{
    Send::InputStream input(path);
    Send::OggPageReader reader(input);
    Send::OggRepager pages(reader, Send::RepairStream::largestProtectedPage(1024));
    auto receiver = std::make_unique<TestHelpers::FakeReceiver>(TestHelpers::FakeReceiver::Options());
    Send::SessionConfig c;
    c.host = "127.0.0.1";
    c.port = receiver->tcpPort();
    c.lead = 30;
    c.repairPercent = 23;
    auto sent = std::make_shared<Sent>();
    c.openStream = [sent](const std::string&, int) {
        return std::make_unique<Wrappers::Net>(new Recorder(sent));
    };
    Send::SendSession session(c, pages);
    std::thread sender([&session] { session.run(); });
    const auto ended = [&sent] {
        std::lock_guard<std::mutex> lock(sent->mutex);
        return sent->repairEnded;
    };
    EXPECT_TRUE(TestHelpers::waitFor(ended, std::chrono::seconds(10)));
    receiver.reset(); // ends the session
    sender.join();
    return sent->bytes;
}

// A stream whose groups close at their page count, not their span.
Bytes dense()
{
    TestHelpers::OggParams params = TestHelpers::musicLike(4.0);
    params.quality = 10;
    params.noise = 0.2f;
    return TestHelpers::encodeOgg(params);
}

} // namespace

TEST(SendRepair, APlayerThatKnowsNothingOfItDecodesTheFileBitExact)
{
    TestHelpers::TempFile file(dense());
    const Bytes sent = sendWithRepair(file.path());
    long holes = 0;
    EXPECT_EQ(TestHelpers::referenceDecode(sent, nullptr, &holes),
              TestHelpers::referenceDecode(file.bytes()));
    EXPECT_EQ(holes, 0);
}

TEST(SendRepair, AGroupsPiecesRebuildAsManyOfItsPagesAsThereArePieces)
{
    TestHelpers::TempFile file(dense());
    const std::vector<Bytes> pages = TestHelpers::splitPages(sendWithRepair(file.path()));
    std::vector<Bytes> group;
    std::vector<Audio::RepairPiece> pieces;
    for (const Bytes& page : pages) {
        const size_t header = PageFields::headerLength(page.data());
        Audio::RepairPiece piece;
        if (!Audio::RepairPiece::read(page.data() + header, page.size() - header, piece))
            group.push_back(page);
        else if (piece.sources > 0 && (pieces.empty() || pieces[0].first == piece.first))
            pieces.push_back(piece);
    }
    ASSERT_FALSE(pieces.empty());
    const Audio::RepairPiece& p = pieces[0];
    ASSERT_EQ(p.sources, 48);
    ASSERT_EQ(p.repairs, 12);
    ASSERT_EQ(pieces.size(), 12u);
    group.erase(group.begin(), group.begin() + p.first); // one link, numbered from 0
    group.resize(48);

    std::vector<Bytes> rows(group);
    for (const Audio::RepairPiece& piece : pieces)
        rows.emplace_back(piece.data, piece.data + piece.length);
    std::vector<unsigned char*> at;
    bool present[48 + 12];
    for (size_t i = 0; i < rows.size(); ++i) {
        present[i] = i >= 48 || i % 4 != 1; // every fourth page lost
        if (!present[i])
            rows[i].clear();
        rows[i].resize(p.length, 0);
        at.push_back(rows[i].data());
    }
    Wrappers::IsalRepairCode code;
    ASSERT_TRUE(code.rebuild(48, 12, p.length, at.data(), present));
    for (size_t i = 1; i < 48; i += 4)
        EXPECT_EQ(Bytes(at[i], at[i] + group[i].size()), group[i]) << "page " << i;
}
