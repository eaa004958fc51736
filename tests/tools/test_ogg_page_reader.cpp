#include "send/input_stream.h"
#include "send/ogg_page_reader.h"
#include "send/ogg_repager.h"
#include "send/pacing_schedule.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/ogg_pages.h"
#include "test_helpers/temp_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

using Send::InputStream;
using Send::OggPage;
using Send::OggPageReader;
using Send::PacingSchedule;
using TestHelpers::Bytes;
using TestHelpers::TempFile;

namespace {

std::vector<OggPage> readAll(OggPageReader& reader)
{
    std::vector<OggPage> pages;
    OggPage page;
    while (reader.next(page))
        pages.push_back(page);
    return pages;
}

Bytes concat(const std::vector<OggPage>& pages)
{
    Bytes all;
    for (const OggPage& p : pages)
        all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    return all;
}

} // namespace

TEST(OggPageReader, ReadsGranulesFlagsAndRateOfAChain)
{
    Bytes first = TestHelpers::makeLink(7, 44100, {1024, 2048, 4096});
    Bytes second = TestHelpers::makeLink(8, 22050, {512, 1000});
    Bytes chain = first;
    chain.insert(chain.end(), second.begin(), second.end());
    TempFile file(chain);
    InputStream in(file.path());
    OggPageReader reader(in);
    std::vector<OggPage> pages = readAll(reader);

    ASSERT_EQ(pages.size(), 7u);
    EXPECT_TRUE(pages[0].bos);
    EXPECT_EQ(pages[0].sampleRate, 44100);
    EXPECT_EQ(pages[0].channels, 2);
    EXPECT_EQ(pages[0].serial, 7u);
    EXPECT_EQ(pages[1].granule, 1024);
    EXPECT_EQ(pages[1].sampleRate, 0);
    EXPECT_FALSE(pages[1].bos);
    EXPECT_EQ(pages[3].granule, 4096);
    EXPECT_TRUE(pages[3].eos);
    EXPECT_TRUE(pages[4].bos);
    EXPECT_EQ(pages[4].sampleRate, 22050);
    EXPECT_EQ(pages[4].serial, 8u);
    EXPECT_EQ(pages[6].granule, 1000);
    EXPECT_TRUE(pages[6].eos);
    for (const OggPage& p : pages)
        EXPECT_FALSE(p.truncated);
    EXPECT_EQ(reader.skippedBytes(), 0u);
    // The pages together are the input, byte for byte.
    EXPECT_EQ(concat(pages), chain);
}

TEST(OggPageReader, HandsOutATruncatedLastPageAndSkipsJunk)
{
    Bytes link = TestHelpers::makeLink(3, 48000, {100, 200, 300}, false, 3000);
    Bytes cut(link.begin(), link.end() - 1000);
    TempFile file(cut);
    InputStream in(file.path());
    OggPageReader reader(in);
    std::vector<OggPage> pages = readAll(reader);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[2].granule, 200);
    EXPECT_TRUE(pages[3].truncated);
    EXPECT_EQ(pages[3].granule, -1);
    EXPECT_EQ(pages[3].serial, 3u);
    EXPECT_EQ(concat(pages), cut);

    // Junk before, between and after pages is skipped and counted; a tail
    // shorter than a page header that is no page is not handed out.
    Bytes junky = {'x', 'y', 'z'};
    junky.insert(junky.end(), link.begin(), link.end());
    junky.insert(junky.end(), {'O', 'g', 'g', 'x', 'q'});
    TempFile junkFile(junky);
    InputStream junkIn(junkFile.path());
    OggPageReader junkReader(junkIn);
    std::vector<OggPage> junkPages = readAll(junkReader);
    ASSERT_EQ(junkPages.size(), 4u);
    EXPECT_FALSE(junkPages.back().truncated);
    EXPECT_EQ(junkReader.skippedBytes(), 8u);
}

TEST(OggPageReader, ACorruptedPageIsSkippedNotHandedOut)
{
    Bytes link = TestHelpers::makeLink(3, 44100, {100, 200, 300});
    // Flip a byte in the body of the last page: its checksum fails.
    link[link.size() - 5] ^= 0xff;
    TempFile file(link);
    InputStream in(file.path());
    OggPageReader reader(in);
    std::vector<OggPage> pages = readAll(reader);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages.back().granule, 200);
    EXPECT_GT(reader.skippedBytes(), 0u);
}

TEST(OggPageReader, NoVorbisRateWithoutAVorbisIdentificationHeader)
{
    Bytes notVorbis = TestHelpers::vorbisIdPacket(44100, 2);
    notVorbis[1] = 'V';
    TempFile file(TestHelpers::makeLink(1, 44100, {10}, true, 100, notVorbis));
    InputStream in(file.path());
    OggPageReader reader(in);
    OggPage page;
    ASSERT_TRUE(reader.next(page));
    EXPECT_TRUE(page.bos);
    EXPECT_EQ(page.sampleRate, 0);

    TempFile garbage(TestHelpers::garbageBytes(5000));
    InputStream gin(garbage.path());
    OggPageReader greader(gin);
    EXPECT_FALSE(greader.next(page));
    EXPECT_EQ(greader.skippedBytes(), 5000u);
}

TEST(OggPageReader, RewindsAFileAndReplaysAPipe)
{
    TestHelpers::OggParams params;
    params.seconds = 1.0;
    Bytes stream = TestHelpers::encodeOgg(params);
    TempFile file(stream);
    InputStream in(file.path());
    EXPECT_TRUE(in.seekable());
    OggPageReader reader(in);
    std::vector<OggPage> once = readAll(reader);
    EXPECT_EQ(concat(once), stream);
    reader.rewind();
    EXPECT_EQ(concat(readAll(reader)), stream);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        // In small pieces, so that reads end in the middle of pages.
        for (size_t at = 0; at < stream.size(); at += 333) {
            size_t n = std::min<size_t>(333, stream.size() - at);
            if (::write(fds[1], stream.data() + at, n) != static_cast<ssize_t>(n))
                break;
        }
        ::close(fds[1]);
    });
    InputStream piped("/dev/fd/" + std::to_string(fds[0]));
    EXPECT_FALSE(piped.seekable());
    OggPageReader pipeReader(piped);
    OggPage page;
    ASSERT_TRUE(pipeReader.next(page));
    pipeReader.rewind(); // after one page, as the check before connecting does
    std::vector<OggPage> first = readAll(pipeReader);
    writer.join();
    ::close(fds[0]);
    EXPECT_EQ(concat(first), stream);
    pipeReader.rewind();
    EXPECT_EQ(concat(readAll(pipeReader)), stream);
}

TEST(OggPageReader, SetSerialKeepsThePageValid)
{
    TestHelpers::OggParams params;
    params.seconds = 0.5;
    Bytes stream = TestHelpers::encodeOgg(params);
    TempFile file(stream);
    InputStream in(file.path());
    OggPageReader reader(in);
    std::vector<OggPage> pages = readAll(reader);
    Bytes second;
    for (OggPage p : pages) {
        OggPageReader::setSerial(p, 4242);
        EXPECT_EQ(p.serial, 4242u);
        second.insert(second.end(), p.bytes.begin(), p.bytes.end());
    }
    // The original followed by the renumbered copy decodes as a chain of
    // two equal links: every checksum holds.
    Bytes chain = stream;
    chain.insert(chain.end(), second.begin(), second.end());
    std::vector<long> linkFrames;
    std::vector<float> decoded = TestHelpers::referenceDecode(chain, &linkFrames);
    ASSERT_EQ(linkFrames.size(), 2u);
    EXPECT_EQ(linkFrames[0], linkFrames[1]);
    EXPECT_EQ(linkFrames[0], static_cast<long>(params.rate * params.seconds));
}

TEST(OggRepager, ALinkCutOffByTheNextStillSendsItsLastPage)
{
    size_t frames = 0;
    const Bytes first =
        TestHelpers::cutOff(TestHelpers::encodeOgg(TestHelpers::musicLike(2)), 1.5, 44100, frames);
    TempFile file(TestHelpers::chainOgg({first, TestHelpers::encodeOgg(TestHelpers::musicLike(1, 2))}));
    InputStream in(file.path());
    OggPageReader reader(in);
    Send::OggRepager pages(reader, 1024);
    int64_t endOfFirst = -1;
    OggPage page;
    while (pages.next(page) == Send::PageSource::Status::Page)
        endOfFirst = page.serial == 1 ? std::max(endOfFirst, page.granule) : endOfFirst;
    EXPECT_EQ(endOfFirst, static_cast<int64_t>(frames));
}

TEST(InputStream, ReportsAFileThatCannotBeOpened)
{
    EXPECT_THROW(InputStream("/nonexistent/veldrane.ogg"), std::runtime_error);
}

TEST(OggPageReader, APipePastItsWindowKeepsItsHeaderPagesAndContinuesLive)
{
    TestHelpers::OggParams params;
    params.seconds = 6.0;
    const Bytes stream = TestHelpers::encodeOgg(params);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        EXPECT_EQ(::write(fds[1], stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
        ::close(fds[1]);
    });
    InputStream piped("/dev/fd/" + std::to_string(fds[0]), 4096);
    OggPageReader reader(piped);
    std::vector<OggPage> header; // the leading pages without a granule position
    bool inHeader = true;
    size_t consumed = 0;
    OggPage page;
    while (consumed < 3 * 4096 && reader.next(page)) {
        consumed += page.bytes.size();
        inHeader = inHeader && page.granule <= 0;
        if (inHeader)
            header.push_back(page);
    }
    EXPECT_FALSE(piped.rewindable());
    EXPECT_EQ(piped.keptBytes(), 0u);

    reader.rewind();
    const std::vector<OggPage> again = readAll(reader);
    writer.join();
    ::close(fds[0]);
    Bytes expected = concat(header);
    expected.insert(expected.end(), stream.begin() + static_cast<long>(consumed), stream.end());
    EXPECT_EQ(concat(again), expected);
    ASSERT_GT(again.size(), header.size() + 1) << stream.size() << " bytes, " << consumed << " read before";
    EXPECT_TRUE(again[header.size()].joined);

    // Paced from where it joined, not from the stream's beginning.
    PacingSchedule schedule(0);
    for (const OggPage& p : again)
        schedule.due(p);
    EXPECT_GT(schedule.playEnd(), 0.0);
    EXPECT_LT(schedule.playEnd(), params.seconds - 0.1);
}
