#include "test_helpers/udp_streamer.h"

#include "test_helpers/loopback.h"
#include "test_helpers/ogg_pages.h"
#include "test_helpers/wait.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace TestHelpers {

namespace {

// Where each Ogg page ends in the byte stream, and when its sound starts and
// ends. A first page after audio starts a new stream, whose granule
// positions count from where the previous one had got.
struct PageSpan {
    std::size_t end;
    double start, finish;
};

std::vector<PageSpan> pageSpans(const std::vector<Bytes>& datagrams, long rate)
{
    Bytes stream;
    for (const auto& d : datagrams)
        stream.insert(stream.end(), d.begin(), d.end());
    std::vector<PageSpan> spans;
    double lastEnd = 0, base = 0;
    bool audio = false;
    std::size_t pos = 0;
    for (const Bytes& page : splitPages(stream)) {
        // splitPages skips what is not a page; find the page where it is.
        const auto at = std::search(stream.begin() + static_cast<long>(pos), stream.end(), page.begin(),
                                    page.begin() + std::min<std::size_t>(page.size(), 27));
        pos = static_cast<std::size_t>(at - stream.begin()) + page.size();
        if ((page[5] & 0x02) && audio)
            base = lastEnd;
        const int64_t granule = granuleOf(page);
        const double start = lastEnd;
        if (granule > 0) {
            lastEnd = base + double(granule) / double(rate);
            audio = true;
        }
        spans.push_back(PageSpan{pos, start, lastEnd});
    }
    return spans;
}

// For each datagram, the page that holds its first byte (or its last).
template <typename Pick>
std::vector<double> perDatagram(const std::vector<Bytes>& datagrams, long rate, bool lastByte, Pick pick)
{
    const std::vector<PageSpan> spans = pageSpans(datagrams, rate);
    std::vector<double> times;
    std::size_t start = 0, page = 0;
    for (const Bytes& d : datagrams) {
        const std::size_t byte = lastByte ? start + d.size() - 1 : start;
        while (page < spans.size() && spans[page].end <= byte)
            ++page;
        times.push_back(page < spans.size() ? pick(spans[page]) : (spans.empty() ? 0 : spans.back().finish));
        start += d.size();
    }
    return times;
}

// For each datagram, the end of the sound of the page that holds its first
// byte: 0 for the header pages.
std::vector<double> audioFromFirstByte(const std::vector<Bytes>& datagrams, long rate)
{
    return perDatagram(datagrams, rate, false, [](const PageSpan& p) { return p.finish; });
}

} // namespace

std::vector<double> soundTimes(const std::vector<Bytes>& datagrams, long rate)
{
    return perDatagram(datagrams, rate, false, [](const PageSpan& p) { return p.start; });
}

std::vector<double> soundEndTimes(const std::vector<Bytes>& datagrams, long rate)
{
    return perDatagram(datagrams, rate, true, [](const PageSpan& p) { return p.finish; });
}

UdpStreamer::UdpStreamer(int port, std::vector<Bytes> datagrams, Options options)
    : _port(port), _datagrams(std::move(datagrams)), _options(options)
{
    if (_options.atEnd)
        _options.lead = std::chrono::milliseconds(0);
    std::vector<double> due =
        _options.atEnd ? soundEndTimes(_datagrams, _options.rate) : soundTimes(_datagrams, _options.rate);
    const std::vector<double> audio = audioFromFirstByte(_datagrams, _options.rate);
    for (std::size_t i = 0; i < due.size(); ++i)
        due[i] += audio[i] > 0 ? _options.audioLater : 0;
    schedule(due);
    _thread = std::thread([this] { run(); });
}

// What the network makes of the sender's datagrams. A swapped datagram is
// overtaken by the next one: it arrives right after it.
void UdpStreamer::schedule(const std::vector<double>& due)
{
    std::mt19937 random(_options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto within = [](double t, double from, double length) {
        return from >= 0 && t >= from && t < from + length;
    };
    for (std::size_t i = 0; i < _datagrams.size(); ++i) {
        if (unit(random) < _options.loss || within(due[i], _options.dropAt, _options.dropSeconds)) {
            _lost.push_back(i);
            continue;
        }
        const double at = within(due[i], _options.holdAt, _options.holdSeconds)
                              ? _options.holdAt + _options.holdSeconds
                              : due[i];
        _slots.push_back(Slot{i, at});
        if (unit(random) < _options.duplicate)
            _slots.push_back(Slot{i, at});
    }
    for (std::size_t k = 0; k + 1 < _slots.size(); ++k) {
        if (unit(random) < _options.swap) {
            std::swap(_slots[k].datagram, _slots[k + 1].datagram);
            _slots[k].due = _slots[k + 1].due;
            ++k;
        }
    }
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
    for (const Slot& slot : _slots) {
        if (_stop)
            break;
        const std::size_t i = slot.datagram;
        if (i == _options.pauseBefore && pausedFor.count() == 0) {
            const auto until = steady_clock::now() + _options.pause;
            while (!_stop && steady_clock::now() < until)
                std::this_thread::sleep_for(milliseconds(5));
            pausedFor += _options.pause;
        }
        const auto due = start + pausedFor - _options.lead
                         + duration_cast<steady_clock::duration>(duration<double>(slot.due));
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
