#include "audio/intake/page_fields.h"
#include "audio/intake/repair_piece.h"
#include "test_helpers/memory_net.h"
#include "test_helpers/network_faults.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/repaired_send.h"
#include "test_helpers/temp_file.h"
#include "wrappers/net.h"
#include "wrappers/ogg_input.h"

#include <vorbis/vorbisfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using namespace TestHelpers;

namespace {

// An input reading scripted datagrams; mem stays owned by net.
struct Input {
    MemoryNet* mem = new MemoryNet();
    Wrappers::Net net{mem};
    Wrappers::OggInput input;
    Input() { input.reset(&net); }

    // Everything served until nothing more comes; the timeout does not
    // wait with MemoryNet.
    Bytes readAll()
    {
        Bytes out;
        unsigned char buf[4096];
        for (int idle = 0; idle < 2;) {
            const size_t n = input.read(buf, sizeof buf, 10);
            idle = n == 0 ? idle + 1 : 0;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
};

// About a hundred 1024-byte datagrams.
const Bytes& longStream()
{
    static const Bytes stream = [] {
        OggParams p;
        p.seconds = 20;
        return encodeOgg(p);
    }();
    return stream;
}

struct Fault {
    const char* name;
    NetworkFaults faults;
};

const std::vector<Fault>& faults()
{
    static const std::vector<Fault> all = {
        {"duplicated", {0, 0.05, 0, 1}},
        {"swapped", {0, 0, 0.05, 1}},
        {"duplicated and swapped", {0, 0.05, 0.05, 1}},
    };
    return all;
}

} // namespace

TEST(OggInput, DatagramsCutAnywhereRepeatedOrSwappedLoseNothing)
{
    const Bytes& stream = longStream();
    for (const Fault& f : faults()) {
        unsigned long repaired = 0;
        for (uint32_t seed = 1; seed <= 8; ++seed) {
            for (size_t size : {1024u, 333u}) {
                NetworkFaults faults = f.faults;
                faults.seed = seed;
                Input in;
                in.mem->push(faultyDatagrams(stream, size, faults));
                EXPECT_TRUE(in.readAll() == stream)
                    << f.name << ", seed " << seed << ", " << size << " bytes";
                EXPECT_EQ(in.input.counts().pagesLost, 0u);
                repaired += in.input.counts().duplicates + in.input.counts().reordered;
            }
        }
        EXPECT_GT(repaired, 0u) << f.name;
    }
}

TEST(OggInput, WholePagesRepeatedOrSwappedLoseNothing)
{
    const Bytes& stream = longStream();
    const std::vector<Bytes> pages = splitPages(stream);
    for (const Fault& f : faults()) {
        unsigned long repaired = 0;
        for (uint32_t seed = 1; seed <= 32; ++seed) {
            NetworkFaults faults = f.faults;
            faults.seed = seed;
            Input in;
            in.mem->push(applyFaults(pages, faults));
            EXPECT_TRUE(in.readAll() == stream) << f.name << ", seed " << seed;
            EXPECT_EQ(in.input.counts().pagesLost, 0u);
            repaired += in.input.counts().duplicates + in.input.counts().reordered;
        }
        EXPECT_GT(repaired, 5u) << f.name;
    }
}

// The pages served are those whose bytes touch none of the lost datagram,
// and each has come one datagram after the one it ends in.
TEST(OggInput, LostDatagramLosesOnlyItsPagesAndTheRestComeAtOnce)
{
    const Bytes& stream = longStream();
    const std::vector<Bytes> pages = splitPages(stream);
    const size_t size = 1024;
    const std::vector<Bytes> datagrams = splitDatagrams(stream, size);
    for (size_t lost : {size_t{3}, datagrams.size() / 2, datagrams.size() - 3}) {
        Bytes expected;
        std::vector<size_t> ends;     // in the stream, of each page expected
        std::vector<size_t> prefixes; // bytes of expected up to and with each
        size_t at = 0;
        for (const Bytes& p : pages) {
            const size_t from = at;
            at += p.size();
            if (at <= lost * size || from >= (lost + 1) * size) {
                expected.insert(expected.end(), p.begin(), p.end());
                ends.push_back(at);
                prefixes.push_back(expected.size());
            }
        }
        Input in;
        Bytes served;
        for (size_t i = 0; i < datagrams.size(); ++i) {
            if (i != lost)
                in.mem->push(datagrams[i]);
            const Bytes got = in.readAll();
            served.insert(served.end(), got.begin(), got.end());
            const auto due = std::count_if(ends.begin(), ends.end(), [&](size_t e) { return e <= i * size; });
            if (due > 0) {
                ASSERT_GE(served.size(), prefixes[due - 1]) << "datagram " << lost << " lost, at " << i;
            }
        }
        EXPECT_TRUE(served == expected) << "datagram " << lost << " lost";
        EXPECT_GE(in.input.counts().pagesLost, 1u);
    }
}

// Memory is bounded by the window; what matters is that the stream
// behind a flood still comes whole.
TEST(OggInput, GarbageAndFloodsOfRepeatsNeitherStallNorKeepTheStreamOut)
{
    const Bytes& stream = longStream();
    Input in;
    for (uint32_t seed = 1; seed <= 300; ++seed)
        in.mem->push(garbageBytes(1024, seed));
    const std::vector<Bytes> datagrams = splitDatagrams(stream, 1024);
    for (size_t i = 0; i < datagrams.size(); ++i) {
        const int copies = i % 7 == 0 ? 40 : 1;
        for (int k = 0; k < copies; ++k)
            in.mem->push(datagrams[i]);
    }
    EXPECT_TRUE(in.readAll() == stream);
    EXPECT_GE(in.input.counts().duplicates, 39u * (datagrams.size() / 7));

    // Captures everywhere, each claiming the largest page there is.
    Input captures;
    Bytes fake(1024);
    for (size_t at = 0; at + 32 <= fake.size(); at += 32) {
        const Bytes header = {'O', 'g', 'g', 'S', 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,
                              1,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 255};
        std::copy(header.begin(), header.end(), fake.begin() + static_cast<long>(at));
        std::fill(fake.begin() + static_cast<long>(at + header.size()),
                  fake.begin() + static_cast<long>(at + 32), 255);
    }
    for (int k = 0; k < 300; ++k)
        captures.mem->push(fake);
    captures.mem->push(datagrams);
    EXPECT_TRUE(captures.readAll() == stream);

    Input pages;
    for (const Bytes& p : splitPages(stream)) {
        for (int k = 0; k < 20; ++k)
            pages.mem->push(p);
    }
    EXPECT_TRUE(pages.readAll() == stream);
}

namespace {

size_t readInput(void* ptr, size_t size, size_t nmemb, void* source)
{
    return static_cast<Wrappers::OggInput*>(source)->read(ptr, size * nmemb, 10);
}

// Decodes what the input serves the way the receiver does, unseekable,
// into interleaved stereo.
std::vector<float> decode(Wrappers::OggInput& input)
{
    OggVorbis_File vf;
    ov_callbacks cb{readInput, nullptr, nullptr, nullptr};
    if (ov_open_callbacks(&input, &vf, nullptr, 0, cb) != 0)
        return {};
    std::vector<float> out;
    for (int idle = 0; idle < 2;) {
        float** pcm = nullptr;
        int section = 0;
        const long r = ov_read_float(&vf, &pcm, 4096, &section);
        idle = r == 0 ? idle + 1 : 0;
        for (long i = 0; i < r; ++i) {
            out.push_back(pcm[0][i]);
            out.push_back(pcm[ov_info(&vf, -1)->channels - 1][i]);
        }
    }
    ov_clear(&vf);
    return out;
}

} // namespace

TEST(OggInput, EncoderRestartedWithoutEndingItsStreamIsHeard)
{
    OggParams first, second;
    first.seconds = 10;
    second.seconds = 2;
    second.serial = 2;
    const std::vector<Bytes> old = splitPages(encodeOgg(first));
    const Bytes restarted = encodeOgg(second);
    Bytes script(concat({old.begin(), old.begin() + static_cast<long>(old.size() / 2)}));
    script.insert(script.end(), restarted.begin(), restarted.end());

    Input in;
    in.mem->push(splitDatagrams(script, 1024));
    const std::vector<float> heard = decode(in.input);
    const std::vector<float> expected = referenceDecode(restarted);
    ASSERT_GT(heard.size(), expected.size());
    EXPECT_TRUE(
        std::equal(expected.begin(), expected.end(), heard.end() - static_cast<long>(expected.size())));
    EXPECT_EQ(in.input.counts().pagesRefused, 0u);
}

// Our sender's datagrams with repair data through a network that loses,
// repeats and swaps them: every page comes out whole and in order, and
// each one missing is counted once, as rebuilt or as lost.
TEST(OggInput, RepairDataRebuildsLostPagesAndEveryPageMissingIsCountedOnce)
{
    const TempFile file(encodeOgg(musicLike(20)));
    const std::vector<Bytes> datagrams = sendWithRepair(file.path(), 20);
    std::vector<Bytes> audio;
    Audio::RepairPiece piece;
    for (const Bytes& page : datagrams) {
        if (!Audio::RepairPiece::read(page.data(), page.size(), piece))
            audio.push_back(page);
    }
    unsigned long rebuilt = 0, lost = 0;
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        NetworkFaults faults;
        faults.loss = 0.03 * (1 + seed % 3);
        faults.duplicate = faults.swap = 0.02;
        faults.seed = seed;
        Input in;
        in.mem->push(applyFaults(datagrams, faults));
        size_t next = 0, missing = 0;
        for (const Bytes& page : splitPages(in.readAll())) {
            const auto at = std::find(audio.begin() + static_cast<long>(next), audio.end(), page);
            ASSERT_NE(at, audio.end()) << "seed " << seed << ": a page out of order or changed";
            missing += static_cast<size_t>(at - audio.begin()) - next;
            next = static_cast<size_t>(at - audio.begin()) + 1;
        }
        missing += audio.size() - next;
        const Wrappers::OggInput::Counts c = in.input.counts();
        EXPECT_EQ(c.pagesLost + c.pagesRefused, missing) << "seed " << seed;
        rebuilt += c.pagesRebuilt;
        lost += missing;
    }
    EXPECT_GT(rebuilt, 20 * lost) << lost << " pages lost, " << rebuilt << " rebuilt";
}
