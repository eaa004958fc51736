#include "wrappers/isal_repair_code.h"

#include "audio/intake/repair_piece.h"

#include <isa-l/erasure_code.h>

#include <algorithm>
#include <cstring>

namespace Wrappers {

namespace {

constexpr std::size_t maxK = Audio::RepairPiece::maxSources;
constexpr std::size_t maxN = maxK + Audio::RepairPiece::maxRepairs;

std::size_t at(int row, int columns)
{
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns);
}

bool fits(int sources, int repairs, std::size_t length)
{
    return sources >= 1 && sources <= Audio::RepairPiece::maxSources && repairs >= 1
           && repairs <= Audio::RepairPiece::maxRepairs && length >= 1
           && length <= Audio::RepairPiece::maxLength;
}

} // namespace

IsalRepairCode::IsalRepairCode()
    : _matrix(maxN * maxK)
    , _chosen(maxK * maxK)
    , _inverse(maxK * maxK)
    , _rows(maxK * maxK)
    , _tables(32 * maxK * maxK)
    , _in(maxK)
    , _out(maxK)
{
}

void IsalRepairCode::encode(int sources, int repairs, std::size_t length, unsigned char* const* pages,
                            unsigned char* const* pieces)
{
    if (!fits(sources, repairs, length))
        return;
    gf_gen_cauchy1_matrix(_matrix.data(), sources + repairs, sources);
    ec_init_tables(sources, repairs, &_matrix[at(sources, sources)], _tables.data());
    std::copy(pages, pages + sources, _in.begin());
    std::copy(pieces, pieces + repairs, _out.begin());
    ec_encode_data(static_cast<int>(length), sources, repairs, _tables.data(), _in.data(), _out.data());
}

// The first `sources` pieces present give the group's rows; the inverse of
// those rows, taken at the missing pages, rebuilds them from those pieces.
bool IsalRepairCode::rebuild(int sources, int repairs, std::size_t length, unsigned char* const* pieces,
                             const bool* present)
{
    if (!fits(sources, repairs, length))
        return false;
    int chosen = 0;
    for (int i = 0; i < sources + repairs && chosen < sources; ++i) {
        if (!present[i])
            continue;
        _in[chosen] = pieces[i];
        chosen++;
    }
    if (chosen < sources)
        return false;
    gf_gen_cauchy1_matrix(_matrix.data(), sources + repairs, sources);
    chosen = 0;
    for (int i = 0; i < sources + repairs && chosen < sources; ++i) {
        if (present[i])
            std::memcpy(&_chosen[at(chosen++, sources)], &_matrix[at(i, sources)],
                        static_cast<std::size_t>(sources));
    }
    if (gf_invert_matrix(_chosen.data(), _inverse.data(), sources) != 0)
        return false;
    int missing = 0;
    for (int i = 0; i < sources; ++i) {
        if (present[i])
            continue;
        std::memcpy(&_rows[at(missing, sources)], &_inverse[at(i, sources)],
                    static_cast<std::size_t>(sources));
        _out[missing++] = pieces[i];
    }
    if (missing == 0)
        return true;
    ec_init_tables(sources, missing, _rows.data(), _tables.data());
    ec_encode_data(static_cast<int>(length), sources, missing, _tables.data(), _in.data(), _out.data());
    return true;
}

} // namespace Wrappers
