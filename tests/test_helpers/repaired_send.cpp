#include "test_helpers/repaired_send.h"

#include "audio/intake/page_fields.h"
#include "audio/intake/repair_piece.h"
#include "send/input_stream.h"
#include "send/ogg_page_reader.h"
#include "send/ogg_repager.h"
#include "send/repair_stream.h"
#include "send/send_session.h"
#include "test_helpers/fake_receiver.h"
#include "test_helpers/wait.h"
#include "wrappers/net.h"
#include "wrappers/net_implementation.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>

namespace TestHelpers {

namespace {

using Audio::PageFields;

struct Sent {
    std::mutex mutex;
    std::vector<Bytes> datagrams; // in the order sent
    bool lastPage = false;        // the file's last page left
    bool repairEnded = false;     // and the last piece of its group after it
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
        _sent->datagrams.emplace_back(data, data + len);
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        Audio::RepairPiece piece;
        if (!Audio::RepairPiece::read(bytes, static_cast<std::size_t>(len), piece))
            _sent->lastPage |= PageFields::last(bytes);
        else
            _sent->repairEnded |= _sent->lastPage && piece.index + 1 == piece.repairs;
        return len;
    }

private:
    std::shared_ptr<Sent> _sent;
};

} // namespace

std::vector<Bytes> sendWithRepair(const std::string& path, int percent)
{
    Send::InputStream input(path);
    Send::OggPageReader reader(input);
    Send::OggRepager pages(reader, Send::RepairStream::largestProtectedPage(1024));
    auto receiver = std::make_unique<TestHelpers::FakeReceiver>(TestHelpers::FakeReceiver::Options());
    Send::SessionConfig c;
    c.host = "127.0.0.1";
    c.port = receiver->tcpPort();
    c.lead = 30;
    c.repairPercent = percent;
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
    return sent->datagrams;
}

} // namespace TestHelpers
