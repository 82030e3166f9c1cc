#include "detector/trajectory_histograms.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace stview {

namespace {

constexpr int kCell = FrameHistograms::cellSize;
constexpr int kNoMotionBin = 8;

// tan(22.5 deg) = sqrt(2) - 1 and tan(67.5 deg) = sqrt(2) + 1, rounded to double. A ratio of
// two floats (24-bit significands) lies at least about 2^-48 (relative) from either irrational
// number (its continued fraction is 2, 2, 2, ...), far more than the 2^-52 the double product
// can be off: the comparisons below give the exact angle's bin for every finite float pair.
constexpr double kTan22 = 0.41421356237309504880;
constexpr double kTan67 = 2.41421356237309504880;

// Bin of each sector (horizontal, vertical or diagonal) by the signs of dx and dy.
constexpr std::uint8_t kBins[3][4] = {
    {0, 4, 0, 4},  // horizontal: dx's sign alone
    {2, 2, 6, 6},  // vertical: dy's sign alone
    {1, 3, 7, 5},  // diagonal: index dx sign + 2 * dy sign
};

inline int binOf(float dx, float dy) {
    const double ax = std::fabs(static_cast<double>(dx));
    const double ay = std::fabs(static_cast<double>(dy));
    // ay == 0 covers the zero vector: atan2(+-0, +0) = +-0 (bin 0), atan2(+-0, -0) = +-180 deg.
    const int sector = (ay < kTan22 * ax || ay == 0) ? 0 : (ay > kTan67 * ax ? 1 : 2);
    return kBins[sector][std::signbit(dx) + 2 * std::signbit(dy)];
}

// A buffer per thread that only grows, so that building frame after frame allocates nothing.
template <typename T>
T* scratch(std::unique_ptr<T[]>& buffer, std::size_t& capacity, std::size_t n) {
    if (n > capacity) {
        buffer.reset(new T[n]);
        capacity = n;
    }
    return buffer.get();
}

// Cell-sum buffers freed by FrameHistograms, kept for the next frame's (all scales of one or
// two frames fit under the cap). A request takes a free buffer of at least its size and at
// most a quarter more, else a new one.
class BufferPool {
  public:
    std::shared_ptr<float> get(std::size_t n) {
        float* p = nullptr;
        std::size_t capacity = n;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto best = free_.end();
            for (auto it = free_.begin(); it != free_.end(); ++it)
                if (it->first >= n && it->first <= n + n / 4 &&
                    (best == free_.end() || it->first < best->first))
                    best = it;
            if (best != free_.end()) {
                capacity = best->first;
                p = best->second;
                freeBytes_ -= capacity * sizeof(float);
                free_.erase(best);
            }
        }
        if (!p) p = new float[n];
        return std::shared_ptr<float>(p, [this, capacity](float* q) { put(q, capacity); });
    }

  private:
    static constexpr std::size_t kMaxFreeBytes = std::size_t(128) << 20;
    void put(float* p, std::size_t capacity) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (freeBytes_ + capacity * sizeof(float) <= kMaxFreeBytes) {
                free_.emplace_back(capacity, p);
                freeBytes_ += capacity * sizeof(float);
                return;
            }
        }
        delete[] p;
    }
    std::mutex mutex_;
    std::vector<std::pair<std::size_t, float*>> free_;
    std::size_t freeBytes_ = 0;
};

// Never destroyed, so that FrameHistograms in static storage may outlive it safely.
BufferPool& pool() {
    static BufferPool* p = new BufferPool;
    return *p;
}

struct Scratch {
    std::unique_ptr<std::uint8_t[]> bins;
    std::unique_ptr<float[]> weights, rows, row;
    std::size_t binsCap = 0, weightsCap = 0, rowsCap = 0, rowCap = 0;
};

// One plane of a field: sample (r, c) at data[r * rowStep + c * step].
struct Plane {
    const float* data;
    std::size_t rowStep;
    int step;
    float at(int r, int c) const { return data[r * rowStep + static_cast<std::size_t>(c) * step]; }
};

// The one-sided or central difference of samples a (before), b (after) over `span` pixels.
inline float difference(float before, float after, int span) {
    return span == 2 ? (after - before) * 0.5f : after - before;
}

// Each pixel's gradient direction bin and magnitude: central differences inside, forward or
// backward at the frame's edge, 0 along an extent of one pixel.
void gradientVotes(const Plane& p, int width, int height, std::uint8_t* bins, float* weights) {
    for (int r = 0; r < height; ++r) {
        const int up = std::max(r - 1, 0);
        const int down = std::min(r + 1, height - 1);
        for (int c = 0; c < width; ++c) {
            const int left = std::max(c - 1, 0);
            const int right = std::min(c + 1, width - 1);
            const float dx = difference(p.at(r, left), p.at(r, right), right - left);
            const float dy = difference(p.at(up, c), p.at(down, c), down - up);
            bins[r * width + c] = static_cast<std::uint8_t>(binOf(dx, dy));
            weights[r * width + c] = std::sqrt(dx * dx + dy * dy);
        }
    }
}

// Each pixel's flow bin: its direction when |omega| >= 0.5 (|omega|^2 in double: the squares of
// floats are exact there, one rounding in the sum), else no motion.
void flowVotes(const cv::Mat& flow, std::uint8_t* bins) {
    const int width = flow.cols;
    for (int r = 0; r < flow.rows; ++r) {
        const float* in = flow.ptr<float>(r);
        for (int c = 0; c < width; ++c) {
            const float fx = in[2 * c];
            const float fy = in[2 * c + 1];
            const double length2 = static_cast<double>(fx) * fx + static_cast<double>(fy) * fy;
            bins[r * width + c] =
                static_cast<std::uint8_t>(length2 >= 0.25 ? binOf(fx, fy) : kNoMotionBin);
        }
    }
}

// Sums of 16 consecutive padded positions j in [i, i + 16), i in [0, outCount), where position
// j holds item(j) (the caller clamps). Each window is the suffix sum of its 16-aligned block
// from i plus the prefix sum of the next block up to i + 15: only additions of the votes
// themselves, so a window without a vote is exactly zero and nothing drifts along the row.
// add(acc, j) adds item j into the accumulator acc; store(out, acc) and plus(out, acc) write.
template <typename Add, typename Set, typename Plus, typename Clear>
void windowSums(int outCount, Add add, Set set, Plus plus, Clear clear) {
    for (int block = 0; block < outCount; block += kCell) {
        clear();
        for (int j = block + kCell - 1; j >= block; --j) {
            add(j);
            if (j < outCount) set(j);
        }
        clear();
        for (int m = 1; m < kCell && block + m < outCount; ++m) {
            add(block + kCell - 1 + m);
            plus(block + m);
        }
    }
}

// Cell sums of one block from its vote maps (weights null: each vote weighs 1).
template <int B>
void cellSums(const std::uint8_t* bins, const float* weights, int width, int height, Scratch& s,
              cv::Mat& out, std::shared_ptr<float>& storage) {
    const int originsX = width + kCell;
    const int originsY = height + kCell;
    const std::size_t rowLen = static_cast<std::size_t>(originsX) * B;
    // Along each row: rows[r][i * B + b], i = x0 + 16.
    float* rows = scratch(s.rows, s.rowsCap, rowLen * height);
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* rb = bins + static_cast<std::size_t>(r) * width;
        const float* rw = weights ? weights + static_cast<std::size_t>(r) * width : nullptr;
        float* o = rows + rowLen * r;
        float acc[B];
        auto pixel = [width](int j) { return std::clamp(j - kCell, 0, width - 1); };
        windowSums(
            originsX,
            [&](int j) {
                // The whole accumulator at once (one-hot): a scalar store into it followed by
                // the wide loads of the copy below would stall on store forwarding.
                const int c = pixel(j);
                const int bin = rb[c];
                const float v = rw ? rw[c] : 1.0f;
#pragma GCC unroll 16
                for (int b = 0; b < B; ++b) acc[b] += v * static_cast<float>(b == bin);
            },
            [&](int i) {
#pragma GCC unroll 16
                for (int b = 0; b < B; ++b) o[static_cast<std::size_t>(i) * B + b] = acc[b];
            },
            [&](int i) {
#pragma GCC unroll 16
                for (int b = 0; b < B; ++b) o[static_cast<std::size_t>(i) * B + b] += acc[b];
            },
            [&] {
#pragma GCC unroll 16
                for (int b = 0; b < B; ++b) acc[b] = 0.0f;
            });
    }
    // Down the columns, a whole row of origins at a time.
    storage = pool().get(rowLen * originsY);
    out = cv::Mat(originsY, static_cast<int>(rowLen), CV_32FC1, storage.get());
    float* acc = scratch(s.row, s.rowCap, rowLen);
    auto source = [&](int j) { return rows + rowLen * std::clamp(j - kCell, 0, height - 1); };
    windowSums(
        originsY,
        [&](int j) {
            const float* in = source(j);
            for (std::size_t k = 0; k < rowLen; ++k) acc[k] += in[k];
        },
        [&](int i) { std::copy(acc, acc + rowLen, out.ptr<float>(i)); },
        [&](int i) {
            float* o = out.ptr<float>(i);
            for (std::size_t k = 0; k < rowLen; ++k) o[k] += acc[k];
        },
        [&] { std::fill(acc, acc + rowLen, 0.0f); });
}

std::string describe(const cv::Mat& m) {
    return cv::typeToString(m.type()) + " " + std::to_string(m.cols) + "x" + std::to_string(m.rows);
}

}  // namespace

FrameHistograms::FrameHistograms(const cv::Mat& grey, const cv::Mat& flow, TrajectoryBlocks blocks)
    : blocks_(blocks), size_(grey.size()) {
    if (grey.empty() || grey.type() != CV_32FC1)
        throw std::invalid_argument("FrameHistograms: needs a non-empty CV_32FC1 grey image, got " +
                                    describe(grey));
    if ((blocks.hof || blocks.mbh) && (flow.type() != CV_32FC2 || flow.size() != grey.size()))
        throw std::invalid_argument("FrameHistograms: hof and mbh need a CV_32FC2 flow of " +
                                    describe(grey) + "'s size, got " + describe(flow));
    originsX_ = size_.width + cellSize;
    originsY_ = size_.height + cellSize;
    thread_local Scratch s;
    const int w = size_.width;
    const int h = size_.height;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    std::uint8_t* bins = scratch(s.bins, s.binsCap, n);
    float* weights = scratch(s.weights, s.weightsCap, n);
    if (blocks.hog) {
        gradientVotes(Plane{grey.ptr<float>(0), grey.step1(), 1}, w, h, bins, weights);
        cellSums<gradientBins>(bins, weights, w, h, s, hog_, storage_[0]);
    }
    if (blocks.hof) {
        flowVotes(flow, bins);
        cellSums<flowBins>(bins, nullptr, w, h, s, hof_, storage_[1]);
    }
    if (blocks.mbh) {
        for (int component = 0; component < 2; ++component) {
            gradientVotes(Plane{flow.ptr<float>(0) + component, flow.step1(), 2}, w, h, bins,
                          weights);
            cellSums<gradientBins>(bins, weights, w, h, s, component == 0 ? mbhx_ : mbhy_,
                                   storage_[2 + component]);
        }
    }
}

void FrameHistograms::addCells(const cv::Mat& sums, int bins, int cx, int cy, float* out) const {
    // Origins beyond [-16, size - 1] cover the same clamped pixels as the nearest inside it.
    const auto origin = [](int c, int offset, int limit) {
        return static_cast<int>(std::clamp<long long>(static_cast<long long>(c) + offset, -cellSize,
                                                      limit - 1)) +
               cellSize;
    };
    for (int cellRow = 0; cellRow < 2; ++cellRow) {
        const float* row = sums.ptr<float>(origin(cy, (cellRow - 1) * cellSize, size_.height));
        for (int cellCol = 0; cellCol < 2; ++cellCol) {
            const float* cell =
                row +
                static_cast<std::size_t>(origin(cx, (cellCol - 1) * cellSize, size_.width)) * bins;
            float* o = out + (cellRow * 2 + cellCol) * bins;
            for (int b = 0; b < bins; ++b) o[b] += cell[b];
        }
    }
}

void FrameHistograms::addPatch(int cx, int cy, float* hog, float* hof, float* mbhx,
                               float* mbhy) const {
    if ((hog && !blocks_.hog) || (hof && !blocks_.hof) || ((mbhx || mbhy) && !blocks_.mbh))
        throw std::invalid_argument("FrameHistograms::addPatch: asked for a block not built");
    if (hog) addCells(hog_, gradientBins, cx, cy, hog);
    if (hof) addCells(hof_, flowBins, cx, cy, hof);
    if (mbhx) addCells(mbhx_, gradientBins, cx, cy, mbhx);
    if (mbhy) addCells(mbhy_, gradientBins, cx, cy, mbhy);
}

std::size_t FrameHistograms::bytesFor(cv::Size size, TrajectoryBlocks blocks) {
    const std::size_t origins = static_cast<std::size_t>(std::max(size.width, 0) + cellSize) *
                                static_cast<std::size_t>(std::max(size.height, 0) + cellSize);
    const std::size_t bins = (blocks.hog ? gradientBins : 0) + (blocks.hof ? flowBins : 0) +
                             (blocks.mbh ? 2 * gradientBins : 0);
    return origins * bins * sizeof(float);
}

inline namespace trajectory {

int directionBin(float dx, float dy) { return binOf(dx, dy); }

void normaliseL2(float* v, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += static_cast<double>(v[i]) * v[i];
    if (sum == 0) return;
    const double scale = 1.0 / std::sqrt(sum);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(v[i] * scale);
}

}  // namespace trajectory

}  // namespace stview
