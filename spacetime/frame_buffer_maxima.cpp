#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "spacetime/frame_buffer.hpp"

// The plain row loops below are compiled twice on x86-64 Linux with GCC, for AVX2 and for the
// baseline instruction set, and the loader picks one at startup; elsewhere they are compiled
// once. The mark kernels are written with AVX2 and SSE2 intrinsics on x86-64 (the AVX2 ones
// chosen at the first call where the processor has it) and with plain floats elsewhere.
// Defining STVIEW_NO_ROW_CLONES keeps only the baseline versions (to test them on an AVX2
// machine).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(STVIEW_NO_ROW_CLONES)
#define STVIEW_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#define STVIEW_AVX2_KERNELS 1
#else
#define STVIEW_ROW_CLONES
#endif

// The mark kernel templates are forced inline into the AVX2 functions that call them: only
// inside a function compiled for AVX2 can the AVX2 lane operations be inlined in turn.
#if defined(__GNUC__)
#define STVIEW_INLINE __attribute__((always_inline)) inline
#else
#define STVIEW_INLINE inline
#endif

namespace stview {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// The larger of two values that are never NaN.
inline float larger(float a, float b) { return a < b ? b : a; }

// v with NaN replaced by +inf (NaN < +inf is false). In the neighbour role the two are
// equivalent (v > +inf is false, as is every comparison with NaN), and without NaN the maxima
// below are exact whatever the order of their operands.
inline float clean(float v) { return v < kInfinity ? v : kInfinity; }

// out = in with NaN replaced by +inf, columns 0 .. w-1.
STVIEW_ROW_CLONES void substituteRow(const float* __restrict in, float* __restrict out,
                                     std::ptrdiff_t w) {
    for (std::ptrdiff_t c = 0; c < w; ++c) out[c] = clean(in[c]);
}

// across[c] = the largest of s[c-1], s[c], s[c+1], columns 1 .. w-2.
STVIEW_ROW_CLONES void acrossRow(const float* __restrict s, float* __restrict across,
                                 std::ptrdiff_t w) {
    for (std::ptrdiff_t c = 1; c < w - 1; ++c) across[c] = larger(larger(s[c - 1], s[c]), s[c + 1]);
}

// box[c] = the largest of the three rows at c, columns 1 .. w-2: with across rows as input, the
// largest value of the 3x3 square around c.
STVIEW_ROW_CLONES void boxRow(const float* __restrict up, const float* __restrict middle,
                              const float* __restrict down, float* __restrict box,
                              std::ptrdiff_t w) {
    for (std::ptrdiff_t c = 1; c < w - 1; ++c) box[c] = larger(larger(up[c], middle[c]), down[c]);
}

// Lanes of floats with the x86 semantics of min, max and comparison: min(a, b) is a < b ? a : b
// and max(a, b) is a > b ? a : b, so both return b when either is NaN; greater(a, b) sets bit k
// when lane k of a is greater than that of b (false with NaN). min(v, +inf) thus replaces NaN by
// +inf in one instruction, and max(a, b) keeps a NaN of b.
struct ScalarLanes {
    using V = float;
    static constexpr int kLanes = 1;
    static V load(const float* p) { return *p; }
    static void store(float* p, V v) { *p = v; }
    static V splat(float v) { return v; }
    static V min(V a, V b) { return a < b ? a : b; }
    static V max(V a, V b) { return a > b ? a : b; }
    static unsigned greater(V a, V b) { return a > b ? 1u : 0u; }
};

#if defined(__x86_64__)
struct Sse2Lanes {
    using V = __m128;
    static constexpr int kLanes = 4;
    static V load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, V v) { _mm_storeu_ps(p, v); }
    static V splat(float v) { return _mm_set1_ps(v); }
    static V min(V a, V b) { return _mm_min_ps(a, b); }
    static V max(V a, V b) { return _mm_max_ps(a, b); }
    static unsigned greater(V a, V b) {
        return static_cast<unsigned>(_mm_movemask_ps(_mm_cmpgt_ps(a, b)));
    }
};
#endif

#if defined(STVIEW_AVX2_KERNELS)
#pragma GCC push_options
#pragma GCC target("avx2")
struct Avx2Lanes {
    using V = __m256;
    static constexpr int kLanes = 8;
    static V load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, V v) { _mm256_storeu_ps(p, v); }
    static V splat(float v) { return _mm256_set1_ps(v); }
    static V min(V a, V b) { return _mm256_min_ps(a, b); }
    static V max(V a, V b) { return _mm256_max_ps(a, b); }
    static unsigned greater(V a, V b) {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(a, b, _CMP_GT_OQ)));
    }
};
#pragma GCC pop_options
#endif

// The rows one 10-neighbourhood mark pass reads and writes (see markBlock).
struct Rows10 {
    const float* centre;    // the centre row r, as stored
    const float* next;      // row r+1 of the same frame, as stored
    const float* acrossUp;  // across row r-1
    const float* sides;     // sides row r
    const float* before;    // row r of the newer frame, as stored
    const float* after;     // row r of the older frame, as stored
    float* acrossNext;      // across row r+1, written
    float* sidesNext;       // sides row r+1, written
};

// The 10-neighbourhood for the kColumns centres from column c on, bit k for column c+k: set when
// the centre is greater than the across rows above and below (the largest of 3 columns), its
// sides (the larger of columns c-1 and c+1) and the pixels of the adjacent frames. The rows of
// row r+1 are made here from the stored pixels with NaN replaced by +inf and written for the
// next centre row. A NaN in the older frame's pixel stays NaN (max keeps its second operand's
// NaN) and makes the comparison false, as does a NaN centre.
template <class Lanes, int kColumns>
STVIEW_INLINE unsigned markBlock(const Rows10& rows, std::ptrdiff_t c) {
    using V = typename Lanes::V;
    const V infinity = Lanes::splat(kInfinity);
    unsigned bits = 0;
    for (int k = 0; k < kColumns; k += Lanes::kLanes) {
        const std::ptrdiff_t i = c + k;
        const V side = Lanes::max(Lanes::min(Lanes::load(rows.next + i - 1), infinity),
                                  Lanes::min(Lanes::load(rows.next + i + 1), infinity));
        const V down = Lanes::max(side, Lanes::min(Lanes::load(rows.next + i), infinity));
        Lanes::store(rows.sidesNext + i, side);
        Lanes::store(rows.acrossNext + i, down);
        const V spatial = Lanes::max(Lanes::max(Lanes::load(rows.acrossUp + i), down),
                                     Lanes::load(rows.sides + i));
        const V temporal = Lanes::max(Lanes::min(Lanes::load(rows.before + i), infinity),
                                      Lanes::load(rows.after + i));
        bits |= Lanes::greater(Lanes::load(rows.centre + i), Lanes::max(spatial, temporal)) << k;
    }
    return bits;
}

// The rows one 26-neighbourhood mark pass reads (see markBlock); all without NaN except the
// centre row.
struct Rows26 {
    const float* centre;    // the centre row r, as stored
    const float* same;      // row r with NaN replaced by +inf
    const float* acrossUp;  // across rows r-1 and r+1
    const float* acrossDown;
    const float* before;  // box rows of the newer and the older frame
    const float* after;
};

// The 26-neighbourhood for the kColumns centres from column c on, bit k for column c+k: set when
// the centre is greater than the across rows above and below, its two sides and the 3x3 boxes of
// the adjacent frames.
template <class Lanes, int kColumns>
STVIEW_INLINE unsigned markBlock(const Rows26& rows, std::ptrdiff_t c) {
    using V = typename Lanes::V;
    unsigned bits = 0;
    for (int k = 0; k < kColumns; k += Lanes::kLanes) {
        const std::ptrdiff_t i = c + k;
        const V spatial =
            Lanes::max(Lanes::max(Lanes::load(rows.acrossUp + i), Lanes::load(rows.acrossDown + i)),
                       Lanes::max(Lanes::load(rows.same + i - 1), Lanes::load(rows.same + i + 1)));
        const V temporal = Lanes::max(Lanes::load(rows.before + i), Lanes::load(rows.after + i));
        bits |= Lanes::greater(Lanes::load(rows.centre + i), Lanes::max(spatial, temporal)) << k;
    }
    return bits;
}

// Marks the centres of a row, columns 1 .. w-2: bit k of mask byte j for column 1 + 8j + k. The
// centres short of a full byte at the end come from one more block ending at column w-2, which
// overlaps the one before it and writes the same row values again. Rows with fewer than 8
// centres go column by column.
template <class Lanes, class Rows>
STVIEW_INLINE void markRow(const Rows& rowsIn, std::ptrdiff_t w, std::uint8_t* mask) {
    // A local copy: the intrinsics' stores may alias anything, and the row pointers would be
    // read again from rowsIn after every store.
    const Rows rows = rowsIn;
    const std::ptrdiff_t centres = w - 2;
    const std::ptrdiff_t full = centres / 8;
    for (std::ptrdiff_t j = 0; j < full; ++j)
        mask[j] = static_cast<std::uint8_t>(markBlock<Lanes, 8>(rows, 1 + 8 * j));
    const auto rest = static_cast<unsigned>(centres - 8 * full);
    if (rest == 0) return;
    unsigned bits = 0;
    if (full > 0) {
        bits = markBlock<Lanes, 8>(rows, w - 9) >> (8 - rest);
    } else {
        for (unsigned k = 0; k < rest; ++k)
            bits |= markBlock<ScalarLanes, 1>(rows, 1 + static_cast<std::ptrdiff_t>(k)) << k;
    }
    mask[full] = static_cast<std::uint8_t>(bits);
}

#if defined(STVIEW_AVX2_KERNELS)
__attribute__((target("avx2"))) void mark10RowAvx2(const Rows10& rows, std::ptrdiff_t w,
                                                   std::uint8_t* mask) {
    markRow<Avx2Lanes>(rows, w, mask);
}
__attribute__((target("avx2"))) void mark26RowAvx2(const Rows26& rows, std::ptrdiff_t w,
                                                   std::uint8_t* mask) {
    markRow<Avx2Lanes>(rows, w, mask);
}
#endif

// The mark kernels for this processor.
struct MarkKernels {
    void (*mark10)(const Rows10&, std::ptrdiff_t, std::uint8_t*);
    void (*mark26)(const Rows26&, std::ptrdiff_t, std::uint8_t*);
};

const MarkKernels& markKernels() {
#if defined(STVIEW_AVX2_KERNELS)
    static const MarkKernels kernels =
        __builtin_cpu_supports("avx2")
            ? MarkKernels{mark10RowAvx2, mark26RowAvx2}
            : MarkKernels{markRow<Sse2Lanes, Rows10>, markRow<Sse2Lanes, Rows26>};
#elif defined(__x86_64__)
    static const MarkKernels kernels{markRow<Sse2Lanes, Rows10>, markRow<Sse2Lanes, Rows26>};
#else
    static const MarkKernels kernels{markRow<ScalarLanes, Rows10>, markRow<ScalarLanes, Rows26>};
#endif
    return kernels;
}

// sides[c] = the larger of s[c-1] and s[c+1], across[c] = the larger of sides[c] and s[c], s the
// row next with NaN replaced by +inf; columns 1 .. w-2. The first two rows of the
// 10-neighbourhood's rings.
void sidesAcrossRow(const float* next, float* sides, float* across, std::ptrdiff_t w) {
    for (std::ptrdiff_t c = 1; c < w - 1; ++c) {
        const float side = larger(clean(next[c - 1]), clean(next[c + 1]));
        sides[c] = side;
        across[c] = larger(side, clean(next[c]));
    }
}

// The index of the lowest set bit of a non-zero word.
inline unsigned lowestBit(std::uint64_t bits) {
#if defined(__GNUC__)
    return static_cast<unsigned>(__builtin_ctzll(bits));
#else
    unsigned k = 0;
    for (; (bits & 1) == 0; bits >>= 1) ++k;
    return k;
#endif
}

// Appends one hit per set bit k of the mask (bit k of byte j for column 1 + k + 8j), columns
// ascending, to out and returns their count: rowStart + column in the low 32 bits and the bits
// of centre[column] in the high ones, taken now while the row is in cache. The mask is padded
// with zeros to whole 64-bit words and mostly zero, so it is read a word at a time; out has
// room for a row's width.
std::size_t collectRow(const std::uint8_t* mask, std::size_t words, const float* centre,
                       std::uint32_t rowStart, std::uint64_t* out) {
    std::size_t count = 0;
    for (std::size_t word = 0; word < words; ++word) {
        std::uint64_t bits = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(&bits, mask + 8 * word, sizeof bits);
#else
        for (std::size_t j = 0; j < 8; ++j) bits |= std::uint64_t{mask[8 * word + j]} << (8 * j);
#endif
        for (; bits != 0; bits &= bits - 1) {
            const std::size_t column = 1 + 64 * word + lowestBit(bits);
            std::uint32_t value;
            std::memcpy(&value, centre + column, sizeof value);
            out[count++] =
                std::uint64_t{value} << 32 | (rowStart + static_cast<std::uint32_t>(column));
        }
    }
    return count;
}

}  // namespace

// A position is a maximum when its value is greater than the largest of its neighbours, so each
// neighbourhood reduces to a few row maxima: a frame's across rows (max of 3 columns) give the
// 8 same-frame neighbours from the rows above and below plus the two sides, and the 3x3 box of
// an adjacent frame is the max of 3 across rows. The rows are walked top to bottom, every frame
// keeping its last rows in a ring, so each stored pixel is read from memory once per call; the
// maxima found are kept per age and appended in age order at the end.
void FrameBuffer::FindLocalMaxima(FeatureList& points, bool fullNeighbourhood) {
    requireStorage("FindLocalMaxima");
    if (Neighbours26 != makeNeighbours26() || Neighbours10 != makeNeighbours10())
        throw std::logic_error("FrameBuffer::FindLocalMaxima: neighbour tables were modified");

    const std::vector<int> order = ring_.UpdateAges();
    if (length_ < 3 || width_ < 3 || height_ < 3) return;

    const int n = length_;
    const std::ptrdiff_t w = width_;
    const std::size_t rowSize = static_cast<std::size_t>(width_);
    // 26: per age 3 NaN-free rows, 3 across rows (each a ring indexed by row % 3) and a box row.
    // 10: per centre age 3 across rows (row % 3) and 2 sides rows (row % 2).
    const std::size_t rowsPerFrame = fullNeighbourhood ? 7 : 5;
    maximaRows_.resize(static_cast<std::size_t>(n) * rowsPerFrame * rowSize);
    // One bit per centre (bit k of byte j for column 1 + 8j + k), in whole 64-bit words.
    const std::size_t maskWords = (rowSize - 2 + 63) / 64;
    const std::size_t maskBytes = 8 * maskWords;
    maximaMask_.assign(static_cast<std::size_t>(n) * maskBytes, 0);
    maximaHits_.resize(static_cast<std::size_t>(n));
    std::vector<std::size_t> hitCount(static_cast<std::size_t>(n), 0);

    float* const rows = maximaRows_.data();
    const auto ringRow = [&](int age, std::size_t index) {
        return rows + (static_cast<std::size_t>(age) * rowsPerFrame + index) * rowSize;
    };
    const auto mask = [&](int age) {
        return maximaMask_.data() + static_cast<std::size_t>(age) * maskBytes;
    };
    std::vector<const float*> frame(static_cast<std::size_t>(n));
    for (int age = 0; age < n; ++age)
        frame[static_cast<std::size_t>(age)] =
            storage_.ptr<float>(order[static_cast<std::size_t>(age)]);
    const auto pixels = [&](int age, int row) {
        return frame[static_cast<std::size_t>(age)] + row * w;
    };
    const MarkKernels& kernels = markKernels();

    // Collects row r's masks, all written before: reading a mask right after the stores that
    // wrote it would wait on store forwarding.
    const auto collect = [&](int r) {
        for (int age = 1; age <= n - 2; ++age) {
            std::vector<std::uint64_t>& hits = maximaHits_[static_cast<std::size_t>(age)];
            std::size_t& count = hitCount[static_cast<std::size_t>(age)];
            if (hits.size() < count + rowSize)
                hits.resize(std::max(2 * hits.size(), count + rowSize));
            count += collectRow(mask(age), maskWords, pixels(age, r),
                                static_cast<std::uint32_t>(r * w), hits.data() + count);
        }
    };

    if (fullNeighbourhood) {
        const auto clean = [&](int age, int row) {
            return ringRow(age, static_cast<std::size_t>(row % 3));
        };
        const auto across = [&](int age, int row) {
            return ringRow(age, 3 + static_cast<std::size_t>(row % 3));
        };
        const auto box = [&](int age) { return ringRow(age, 6); };
        const auto prepare = [&](int row) {
            for (int age = 0; age < n; ++age) {
                substituteRow(pixels(age, row), clean(age, row), w);
                acrossRow(clean(age, row), across(age, row), w);
            }
        };
        prepare(0);
        prepare(1);
        for (int r = 1; r <= height_ - 2; ++r) {
            prepare(r + 1);
            for (int age = 0; age < n; ++age)
                boxRow(across(age, r - 1), across(age, r), across(age, r + 1), box(age), w);
            for (int age = 1; age <= n - 2; ++age)
                kernels.mark26({pixels(age, r), clean(age, r), across(age, r - 1),
                                across(age, r + 1), box(age - 1), box(age + 1)},
                               w, mask(age));
            collect(r);
        }
    } else {
        // Only the centre ages keep rows; the adjacent frames' pixels are read as stored.
        const auto across = [&](int age, int row) {
            return ringRow(age, static_cast<std::size_t>(row % 3));
        };
        const auto sides = [&](int age, int row) {
            return ringRow(age, 3 + static_cast<std::size_t>(row % 2));
        };
        for (int age = 1; age <= n - 2; ++age)
            for (int row = 0; row <= 1; ++row)
                sidesAcrossRow(pixels(age, row), sides(age, row), across(age, row), w);
        for (int r = 1; r <= height_ - 2; ++r) {
            for (int age = 1; age <= n - 2; ++age)
                kernels.mark10(
                    {pixels(age, r), pixels(age, r + 1), across(age, r - 1), sides(age, r),
                     pixels(age - 1, r), pixels(age + 1, r), across(age, r + 1), sides(age, r + 1)},
                    w, mask(age));
            collect(r);
        }
    }

    // Grow the list once, geometrically so that repeated calls on one list stay linear.
    std::size_t found = 0;
    for (const std::size_t count : hitCount) found += count;
    const std::size_t needed = points.size() + found;
    if (needed > points.capacity()) points.reserve(std::max(needed, 2 * points.size()));
    const auto columns = static_cast<std::uint32_t>(width_);
    // Copying a filled-in record is cheaper than value-initialising one in place.
    FeaturePoint record;
    for (int age = 1; age <= n - 2; ++age) {
        record.t = ring_.FrameAt(order[static_cast<std::size_t>(age)]);
        const std::uint64_t* const hits = maximaHits_[static_cast<std::size_t>(age)].data();
        for (std::size_t k = 0; k < hitCount[static_cast<std::size_t>(age)]; ++k) {
            const auto position = static_cast<std::uint32_t>(hits[k]);
            const auto bits = static_cast<std::uint32_t>(hits[k] >> 32);
            float value;
            std::memcpy(&value, &bits, sizeof value);
            record.x = static_cast<int>(position % columns);
            record.y = static_cast<int>(position / columns);
            record.value = static_cast<double>(value);
            points.push_back(record);
        }
    }
}

}  // namespace stview
