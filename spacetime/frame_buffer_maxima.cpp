#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "spacetime/frame_buffer.hpp"

// The row loops below are compiled twice on x86-64 Linux with GCC, for AVX2 and for the baseline
// instruction set, and the loader picks one at startup; elsewhere they are compiled once.
// Defining STVIEW_NO_ROW_CLONES keeps only the baseline version (to test it on an AVX2 machine).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(STVIEW_NO_ROW_CLONES)
#define STVIEW_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define STVIEW_ROW_CLONES
#endif

namespace stview {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// The larger of two values that are never NaN.
inline float larger(float a, float b) { return a < b ? b : a; }

// out = in with NaN replaced by +inf, columns 0 .. w-1. In the neighbour role the two are
// equivalent (v > +inf is false, as is every comparison with NaN), and without NaN the maxima
// below are exact whatever the order of their operands.
STVIEW_ROW_CLONES void substituteRow(const float* __restrict in, float* __restrict out,
                                     std::ptrdiff_t w) {
    for (std::ptrdiff_t c = 0; c < w; ++c) out[c] = in[c] == in[c] ? in[c] : kInfinity;
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

// mask[c] = 1 when centre[c] is greater than its 8 neighbours in the same frame (the across rows
// above and below, the row's own columns c-1 and c+1) and than before[c] and after[c], the
// neighbours in the adjacent frames (a pixel or a 3x3 square's maximum); otherwise 0. Columns
// 1 .. w-2; a NaN centre compares false.
STVIEW_ROW_CLONES void markRow(const float* __restrict centre, const float* __restrict same,
                               const float* __restrict acrossUp, const float* __restrict acrossDown,
                               const float* __restrict before, const float* __restrict after,
                               std::uint8_t* __restrict mask, std::ptrdiff_t w) {
    for (std::ptrdiff_t c = 1; c < w - 1; ++c) {
        const float spatial =
            larger(larger(acrossUp[c], acrossDown[c]), larger(same[c - 1], same[c + 1]));
        const float all = larger(spatial, larger(before[c], after[c]));
        mask[c] = centre[c] > all;
    }
}

// Appends rowStart + c, with centre[c]'s bits in the high 32 bits, for every set mask[c], c
// ascending. One 64-bit value per maximum is written with a single store. The mask is padded
// with zeros to a multiple of 8 bytes and mostly zero, so it is read 8 bytes at a time.
void collectRow(const std::uint8_t* mask, std::size_t paddedWidth, const float* centre,
                std::uint32_t rowStart, std::vector<std::uint64_t>& hits) {
    const auto hit = [&](std::size_t k) {
        std::uint32_t bits;
        std::memcpy(&bits, centre + k, sizeof bits);
        hits.push_back(std::uint64_t{bits} << 32 | (rowStart + static_cast<std::uint32_t>(k)));
    };
    for (std::size_t c = 0; c < paddedWidth; c += 8) {
        std::uint64_t block;
        std::memcpy(&block, mask + c, sizeof block);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // The lowest set bit belongs to the first set byte.
        for (; block != 0; block &= block - 1)
            hit(c + static_cast<std::size_t>(__builtin_ctzll(block)) / 8);
#else
        if (block == 0) continue;
        for (std::size_t k = c; k < c + 8; ++k)
            if (mask[k]) hit(k);
#endif
    }
}

}  // namespace

// A position is a maximum when its value is greater than the largest of its neighbours, so each
// neighbourhood reduces to a few row maxima: a frame's across rows (max of 3 columns) give the
// 8 same-frame neighbours from the rows above and below plus the two sides, and the 3x3 box of
// an adjacent frame is the max of 3 across rows. The rows are walked top to bottom, every frame
// keeping its last 3 NaN-free and across rows in a ring, so each stored pixel is read once per
// call; the maxima found are kept per age and appended in age order at the end.
void FrameBuffer::FindLocalMaxima(FeatureList& points, bool fullNeighbourhood) {
    requireStorage("FindLocalMaxima");
    if (Neighbours26 != makeNeighbours26() || Neighbours10 != makeNeighbours10())
        throw std::logic_error("FrameBuffer::FindLocalMaxima: neighbour tables were modified");

    const std::vector<int> order = ring_.UpdateAges();
    if (length_ < 3 || width_ < 3 || height_ < 3) return;

    const int n = length_;
    const std::ptrdiff_t w = width_;
    const std::size_t rowSize = static_cast<std::size_t>(width_);
    // Per age: 3 NaN-free rows, 3 across rows (each a ring indexed by row % 3) and a box row.
    constexpr std::size_t kRowsPerFrame = 7;
    maximaRows_.resize(static_cast<std::size_t>(n) * kRowsPerFrame * rowSize);
    const std::size_t paddedWidth = (rowSize + 7) / 8 * 8;
    maximaMask_.assign(static_cast<std::size_t>(n) * paddedWidth, 0);
    maximaHits_.resize(static_cast<std::size_t>(n));
    for (std::vector<std::uint64_t>& hits : maximaHits_) hits.clear();

    float* const rows = maximaRows_.data();
    const auto clean = [&](int age, int row) {
        return rows +
               (static_cast<std::size_t>(age) * kRowsPerFrame + static_cast<std::size_t>(row % 3)) *
                   rowSize;
    };
    const auto across = [&](int age, int row) {
        return rows + (static_cast<std::size_t>(age) * kRowsPerFrame + 3 +
                       static_cast<std::size_t>(row % 3)) *
                          rowSize;
    };
    const auto box = [&](int age) {
        return rows + (static_cast<std::size_t>(age) * kRowsPerFrame + 6) * rowSize;
    };
    const auto mask = [&](int age) {
        return maximaMask_.data() + static_cast<std::size_t>(age) * paddedWidth;
    };
    std::vector<const float*> frame(static_cast<std::size_t>(n));
    for (int age = 0; age < n; ++age)
        frame[static_cast<std::size_t>(age)] =
            storage_.ptr<float>(order[static_cast<std::size_t>(age)]);

    // The 10-neighbourhood reads only the clean row of the newest and oldest frames.
    const auto prepare = [&](int row) {
        for (int age = 0; age < n; ++age) {
            substituteRow(frame[static_cast<std::size_t>(age)] + row * w, clean(age, row), w);
            if (fullNeighbourhood || (age > 0 && age < n - 1))
                acrossRow(clean(age, row), across(age, row), w);
        }
    };
    prepare(0);
    prepare(1);
    for (int r = 1; r <= height_ - 2; ++r) {
        prepare(r + 1);
        if (fullNeighbourhood)
            for (int age = 0; age < n; ++age)
                boxRow(across(age, r - 1), across(age, r), across(age, r + 1), box(age), w);
        // All the masks of the row are written before any is read: reading a mask right after
        // the vector stores that wrote it would wait on store forwarding at every 8 bytes.
        for (int age = 1; age <= n - 2; ++age) {
            const float* before = fullNeighbourhood ? box(age - 1) : clean(age - 1, r);
            const float* after = fullNeighbourhood ? box(age + 1) : clean(age + 1, r);
            markRow(frame[static_cast<std::size_t>(age)] + r * w, clean(age, r), across(age, r - 1),
                    across(age, r + 1), before, after, mask(age), w);
        }
        for (int age = 1; age <= n - 2; ++age)
            collectRow(mask(age), paddedWidth, frame[static_cast<std::size_t>(age)] + r * w,
                       static_cast<std::uint32_t>(r * w),
                       maximaHits_[static_cast<std::size_t>(age)]);
    }

    // Grow the list once, geometrically so that repeated calls on one list stay linear.
    std::size_t found = 0;
    for (const std::vector<std::uint64_t>& hits : maximaHits_) found += hits.size();
    const std::size_t needed = points.size() + found;
    if (needed > points.capacity()) points.reserve(std::max(needed, 2 * points.size()));
    const auto columns = static_cast<std::uint32_t>(width_);
    // Copying a filled-in record is cheaper than value-initialising one in place.
    FeaturePoint record;
    for (int age = 1; age <= n - 2; ++age) {
        const int frameNumber = ring_.FrameAt(order[static_cast<std::size_t>(age)]);
        for (const std::uint64_t hit : maximaHits_[static_cast<std::size_t>(age)]) {
            const auto position = static_cast<std::uint32_t>(hit);
            const auto bits = static_cast<std::uint32_t>(hit >> 32);
            float value;
            std::memcpy(&value, &bits, sizeof value);
            record.x = static_cast<int>(position % columns);
            record.y = static_cast<int>(position / columns);
            record.t = frameNumber;
            record.value = static_cast<double>(value);
            points.push_back(record);
        }
    }
}

}  // namespace stview
