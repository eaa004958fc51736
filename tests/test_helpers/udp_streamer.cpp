#include "test_helpers/udp_streamer.h"

#include "test_helpers/loopback.h"
#include "test_helpers/wait.h"

#include <algorithm>
#include <cstring>

namespace TestHelpers {

std::vector<double> soundTimes(const std::vector<Bytes>& datagrams, long rate)
{
    Bytes stream;
    for (const auto& d : datagrams)
        stream.insert(stream.end(), d.begin(), d.end());

    // Where each page ends in the stream, and when its sound starts.
    std::vector<std::size_t> pageEnd;
    std::vector<double> pageTime;
    double lastEnd = 0;
    std::size_t pos = 0;
    for (const Bytes& page : splitPages(stream)) {
        // splitPages skips what is not a page; find the page where it is.
        const auto at = std::search(stream.begin() + static_cast<long>(pos), stream.end(), page.begin(),
                                    page.begin() + std::min<std::size_t>(page.size(), 27));
        pos = static_cast<std::size_t>(at - stream.begin()) + page.size();
        pageEnd.push_back(pos);
        pageTime.push_back(lastEnd);
        int64_t granule = 0;
        std::memcpy(&granule, page.data() + 6, sizeof granule); // little-endian, as the format is
        if (granule > 0)
            lastEnd = double(granule) / double(rate);
    }

    std::vector<double> times;
    std::size_t start = 0;
    std::size_t page = 0;
    for (const Bytes& d : datagrams) {
        while (page < pageEnd.size() && pageEnd[page] <= start)
            ++page;
        times.push_back(page < pageTime.size() ? pageTime[page] : lastEnd);
        start += d.size();
    }
    return times;
}

UdpStreamer::UdpStreamer(int port, std::vector<Bytes> datagrams, Options options)
    : _port(port)
    , _datagrams(std::move(datagrams))
    , _due(soundTimes(_datagrams, options.rate))
    , _options(options)
{
    _thread = std::thread([this] { run(); });
}

UdpStreamer::~UdpStreamer()
{
    _stop = true;
    _thread.join();
}

bool UdpStreamer::waitDone(std::chrono::milliseconds timeout) const
{
    return waitFor([this] { return _done.load(); }, timeout);
}

void UdpStreamer::run()
{
    using namespace std::chrono;
    const LoopbackSocket socket(LoopbackSocket::Kind::Udp);
    const auto start = steady_clock::now();
    auto pausedFor = milliseconds(0);
    for (std::size_t i = 0; i < _datagrams.size() && !_stop; ++i) {
        if (i == _options.pauseBefore) {
            const auto until = steady_clock::now() + _options.pause;
            while (!_stop && steady_clock::now() < until)
                std::this_thread::sleep_for(milliseconds(5));
            pausedFor += _options.pause;
        }
        const auto due = start + pausedFor - _options.lead
                         + duration_cast<steady_clock::duration>(duration<double>(_due[i]));
        while (!_stop && steady_clock::now() < due)
            std::this_thread::sleep_for(milliseconds(2));
        if (!socket.sendTo(_port, _datagrams[i].data(), _datagrams[i].size()))
            ++_failures;
    }
    _done = true;
}

void sendDatagrams(int port, const std::vector<Bytes>& datagrams)
{
    const LoopbackSocket socket(LoopbackSocket::Kind::Udp);
    for (const auto& d : datagrams)
        socket.sendTo(port, d.data(), d.size());
}

} // namespace TestHelpers
