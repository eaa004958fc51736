#include "audio/intake/repair_piece.h"
#include "test_helpers/media_files.h"
#include "test_helpers/ogg_maker.h"
#include "test_helpers/repaired_send.h"
#include "test_helpers/temp_file.h"
#include "wrappers/isal_repair_code.h"

#include <gtest/gtest.h>

using TestHelpers::Bytes;

namespace {

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
    const Bytes sent = TestHelpers::concat(TestHelpers::sendWithRepair(file.path(), 23));
    long holes = 0;
    EXPECT_EQ(TestHelpers::referenceDecode(sent, nullptr, &holes),
              TestHelpers::referenceDecode(file.bytes()));
    EXPECT_EQ(holes, 0);
}

// As it reads them from a socket: a logical stream of repair data beside the
// link stopped it, waiting to time that stream too.
TEST(SendRepair, AMediaFrameworkThatKnowsNothingOfItPlaysTheDatagramsAsTheFile)
{
    TestHelpers::TempFile file(dense());
    const Bytes sent = TestHelpers::concat(TestHelpers::sendWithRepair(file.path(), 23));
    const Bytes plain = TestHelpers::decodedByGStreamer(file.bytes());
    ASSERT_FALSE(plain.empty()) << "GStreamer did not decode the file itself";
    EXPECT_EQ(TestHelpers::decodedByGStreamer(sent), plain);
}

TEST(SendRepair, AGroupsPiecesRebuildAsManyOfItsPagesAsThereArePieces)
{
    TestHelpers::TempFile file(dense());
    const std::vector<Bytes> datagrams = TestHelpers::sendWithRepair(file.path(), 23);
    std::vector<Bytes> group;
    std::vector<Audio::RepairPiece> pieces;
    for (const Bytes& datagram : datagrams) {
        Audio::RepairPiece piece;
        if (!Audio::RepairPiece::read(datagram.data(), datagram.size(), piece))
            group.push_back(datagram);
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
    for (const Audio::RepairPiece& piece : pieces) {
        rows.emplace_back(piece.data, piece.data + piece.length);
        Audio::RepairPiece::applyMask(rows.back().data(), piece.length);
    }
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
