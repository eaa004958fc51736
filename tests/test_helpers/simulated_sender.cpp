#include "test_helpers/simulated_sender.h"

#include "test_helpers/ogg_pages.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace TestHelpers {

std::vector<SimulatedSender::Datagram> SimulatedSender::datagrams(double seconds) const
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> length(0.1, 0.25);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // A real stream's headers, which the receiver checks before it lets
    // any audio through, sent together at once.
    size_t headerFrames = 0;
    static const Bytes headers = cutOff(encodeOgg(OggParams()), 0, 44100, headerFrames);
    Bytes stream = headers;
    struct Page {
        size_t end; // in the byte stream
        double mediaEnd;
    };
    std::vector<Page> pages{{0, 0}, {stream.size(), 0}};
    ogg_stream_state os;
    ogg_stream_init(&os, 1);
    os.b_o_s = 1; // the headers began it
    os.pageno = static_cast<long>(splitPages(headers).size());
    for (int64_t granule = 0; granule < seconds * 44100;) {
        granule += static_cast<int64_t>(length(random) * 44100);
        const double end = static_cast<double>(granule) / 44100;
        Bytes body(static_cast<size_t>((end - pages.back().mediaEnd) * bytesPerSecond), 0x5a);
        ogg_packet op{};
        op.packet = body.data();
        op.bytes = static_cast<long>(body.size());
        op.granulepos = granule;
        ogg_stream_packetin(&os, &op);
        ogg_page og;
        while (ogg_stream_flush(&os, &og))
            appendPage(stream, og);
        pages.push_back({stream.size(), end});
    }
    ogg_stream_clear(&os);

    // Each datagram leaves when its last byte is due.
    std::vector<Datagram> sent;
    auto page = pages.begin() + 1;
    for (size_t begin = 0; begin < stream.size();) {
        for (; page->end <= begin; ++page) {}
        const size_t end = datagramBytes ? std::min(stream.size(), begin + datagramBytes) : page->end;
        for (; page->end < end; ++page) {}
        const Page& before = *std::prev(page);
        const double share =
            static_cast<double>(end - before.end) / static_cast<double>(page->end - before.end);
        const double at = pacing == Pacing::AtStart ? before.mediaEnd - lead
                          : pacing == Pacing::AtEnd ? page->mediaEnd
                          : pacing == Pacing::Bursts
                              ? std::ceil(page->mediaEnd / burstSeconds) * burstSeconds
                              : before.mediaEnd + share * (page->mediaEnd - before.mediaEnd) - lead;
        sent.push_back({std::max(0.0, at) / rate, Bytes(stream.begin() + begin, stream.begin() + end)});
        begin = end;
    }

    std::vector<Datagram> out;
    double last = 0;
    for (const size_t d : faultyOrder(sent.size(), faults)) {
        double at = sent[d].at + jitterSeconds * unit(random);
        if (at >= stallAt && at < stallAt + stallSeconds)
            at = stallAt + stallSeconds;
        if (heldSeconds > 0)
            at = std::ceil(at / heldSeconds) * heldSeconds;
        last = std::max(last, at);
        out.push_back({last, sent[d].bytes});
    }
    return out;
}

} // namespace TestHelpers
