#include "detector/space_time_detector.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>

#include "detector/dense_grid.hpp"
#include "detector/descriptor_stream.hpp"
#include "detector/gabor_response.hpp"
#include "detector/hessian_response.hpp"
#include "detector/memory.hpp"
#include "detector/parallel.hpp"
#include "detector/scale_space.hpp"
#include "detector/trajectory_detector.hpp"
#include "imaging/gaussian_kernel.hpp"
#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

constexpr int kProducts = 6;
// Responses are made this many frames at a time, so that each stored product frame is read
// once per block rather than once per response: a point waits at most kBlock - 1 frames
// longer than its frame's last input.
constexpr int kBlock = 4;
// Pixels per task of the response stage, and per tile that the block's sums keep in the
// first-level cache.
constexpr int kChunk = 8192;
constexpr int kTile = 128;
// Rows per task of the Hessian's response.
constexpr int kHessianRows = 16;

int halfSize(const std::vector<double>& taps) { return static_cast<int>(taps.size() / 2); }

// A FrameBuffer used as a sliding window over frame numbers, the first frame repeated
// `padding` times before it so that the window can be centred on the first frame.
struct TimeWindow {
    FrameBuffer frames;
    int padding = 0;
    long pushed = 0;
    int newest = 0;

    void init(int half, int slots) {
        padding = half;
        frames.SetLength(slots);
    }
    void push(const cv::Mat& image, int frameNumber) {
        if (pushed == 0) {
            for (int j = padding; j > 0; --j) frames.AddFrameNumbered(image, frameNumber - j);
        }
        frames.AddFrameNumbered(image, frameNumber);
        ++pushed;
        newest = frameNumber;
    }
    // Repeats the newest frame once more under the next number (padding after the last).
    void repeatNewest(cv::Mat& scratch) {
        frames.GetFrame(newest, scratch);
        frames.AddFrameNumbered(scratch, newest + 1);
        ++newest;
    }
};

}  // namespace

struct SpaceTimeDetector::Impl {
    // One spatial scale: f smoothed in x and y, kept for the temporal smoothing of L.
    struct Level {
        double sigma2 = 0;
        cv::Mat taps;
        TimeWindow smoothed;
        cv::Mat scratch;
        // The pairs of this scale read the window at once; ConvolveTime updates the ring's
        // ages, so they take turns.
        std::mutex reading;
    };
    // One scale pair, from L to its points.
    struct Pair {
        int level = 0;
        double sigma2 = 0, tau2 = 0;
        std::vector<double> timeTaps;     // g(tau^2)
        cv::Mat productTaps;              // g(2 sigma^2)
        std::vector<double> productTime;  // g(2 tau^2)
        cv::Mat before, current, next;    // L at t - 1, t and the newest
        int currentFrame = 0;
        bool haveCurrent = false;
        bool productsReady = false;  // products of productsFrame are to be made
        int productsFrame = 0;
        const cv::Mat* after = nullptr;  // L after productsFrame: next, or current at the end
        int nextFrame = 0;
        // The smoothed products of the newest `slots` frames, frame F in slot (F - first) mod
        // slots: enough for the product window of every response of one block.
        int productHalf = 0;
        int slots = 0;
        std::array<std::unique_ptr<float[]>, kProducts> products;  // written before read
        long productsThrough = 0;  // the newest frame whose products are stored
        long nextCentre = 0;       // the first frame whose response is still to be made
        // The block being made: its first centre, its length, and per response the slots and
        // weights of its temporal sums in the order they are added.
        long blockStart = 0;
        int blockLength = 0;
        std::array<std::vector<const float*>, kBlock * kProducts> blockRows;
        std::array<std::vector<float>, kBlock> blockWeights;
        std::array<cv::Mat, kBlock> blockResponses;
        FrameBuffer responses{3};
        long responseCount = 0;
        std::deque<FeaturePoint> pending;
        long doneThrough = 0;  // every frame up to this one has been searched
        // gabor: the quadrature pair as ConvolveTime's kernels (newest frame first), and the
        // two responses of the newest centre.
        std::vector<double> evenKernel, oddKernel;
        cv::Mat even, odd;
        // dense: the grid, and the next frame whose points are still to come.
        std::unique_ptr<DenseGrid> grid;
        long nextGridFrame = 0;
    };

    cv::Size size;
    DetectorOptions options;
    int first = 0;
    long last = LONG_MAX;  // last processed frame, known at finish
    int added = 0;
    bool finished = false;
    int maxTimeHalf = 0;
    long emittedThrough = 0;
    int nextId = 0;
    std::deque<Level> levels;                // deque: FrameBuffer cannot move
    std::deque<Pair> pairs;                  // sorted by sigma^2, then tau^2: the output order
    std::vector<int> levelOrder, pairOrder;  // most expensive first, for the thread pool
    cv::Mat grey8, grey;
    std::unique_ptr<DescriptorStream> descriptors;
    std::unique_ptr<TrajectoryDetector> trajectories;  // the trajectories' own detector

    bool lStep(Pair& pair, int newestSmoothed);
    bool gaborStep(Pair& pair, int newestSmoothed);
    void advancePairs(int newestSmoothed);
    void respond(const std::vector<int>& candidates);
    void hessianStages(const std::vector<int>& candidates);
    void denseStep(long newest);
    void productStages(const std::vector<int>& candidates);
    bool planBlock(Pair& pair);
    void responseStages(const std::vector<int>& candidates);
    void responseTiles(Pair& pair, std::size_t begin, std::size_t end) const;
    void searchBlock(Pair& pair);
    void emit(FeatureList& points);
};

// L at the centre of the level's window once the window around it is complete. True when,
// with it, the products of the frame before are ready to be made.
bool SpaceTimeDetector::Impl::lStep(Pair& pair, int newestSmoothed) {
    const long centre = static_cast<long>(newestSmoothed) - halfSize(pair.timeTaps);
    if (centre < first || centre > last) return false;
    Level& level = levels[pair.level];
    {
        std::lock_guard<std::mutex> lock(level.reading);
        level.smoothed.frames.ConvolveTime(pair.next, pair.timeTaps);
    }
    if (!pair.haveCurrent) {
        // L before the first frame repeats it.
        pair.next.copyTo(pair.before);
        std::swap(pair.current, pair.next);
        pair.haveCurrent = true;
        pair.currentFrame = static_cast<int>(centre);
        return false;
    }
    pair.productsFrame = pair.currentFrame;
    pair.after = &pair.next;
    pair.nextFrame = static_cast<int>(centre);
    return true;
}

// gabor: the even and odd responses at the centre of the level's window, and their energy,
// once the window around it is complete. True when that response is to be searched.
bool SpaceTimeDetector::Impl::gaborStep(Pair& pair, int newestSmoothed) {
    const long centre = static_cast<long>(newestSmoothed) - halfSize(pair.evenKernel);
    if (centre < first || centre > last) return false;
    Level& level = levels[pair.level];
    {
        std::lock_guard<std::mutex> lock(level.reading);
        level.smoothed.frames.ConvolveTimeTwice(pair.even, pair.evenKernel, pair.odd,
                                                pair.oddKernel);
    }
    gaborEnergy(pair.even, pair.odd, pair.blockResponses[0]);
    pair.blockStart = centre;
    pair.blockLength = 1;
    return true;
}

void SpaceTimeDetector::Impl::advancePairs(int newestSmoothed) {
    forEachParallel(pairOrder, [&](int p) {
        Pair& pair = pairs[p];
        pair.productsReady = options.kind == DetectorKind::Gabor ? gaborStep(pair, newestSmoothed)
                                                                 : lStep(pair, newestSmoothed);
    });
    std::vector<int> ready;
    for (int p : pairOrder)
        if (pairs[p].productsReady) ready.push_back(p);
    respond(ready);
    if (options.kind == DetectorKind::Gabor) return;
    for (int p : ready) {
        Pair& pair = pairs[p];
        std::swap(pair.before, pair.current);
        std::swap(pair.current, pair.next);
        pair.currentFrame = pair.nextFrame;
    }
}

// The responses of the pairs whose next frame is ready, and their maxima.
void SpaceTimeDetector::Impl::respond(const std::vector<int>& candidates) {
    switch (options.kind) {
        case DetectorKind::Harris:
            productStages(candidates);
            break;
        case DetectorKind::Hessian:
            hessianStages(candidates);
            break;
        case DetectorKind::Gabor:
            for (int p : candidates) pairs[p].productsReady = false;
            forEachParallel(candidates, [&](int p) { searchBlock(pairs[p]); });
            break;
        case DetectorKind::Dense:
        case DetectorKind::Trajectories:
            break;
    }
}

// hessian: each ready pair's response at its L's frame, a band of rows per task, then the
// maxima.
void SpaceTimeDetector::Impl::hessianStages(const std::vector<int>& candidates) {
    const int bands = (size.height + kHessianRows - 1) / kHessianRows;
    std::vector<int> tasks;
    for (int p : candidates) {
        pairs[p].blockResponses[0].create(size, CV_32FC1);
        for (int b = 0; b < bands; ++b) tasks.push_back(p * bands + b);
    }
    forEachParallel(tasks, [&](int task) {
        Pair& pair = pairs[task / bands];
        const int begin = task % bands * kHessianRows;
        hessianResponseRows(pair.before, pair.current, *pair.after, std::sqrt(pair.sigma2),
                            std::sqrt(pair.tau2), begin,
                            std::min(size.height, begin + kHessianRows), pair.blockResponses[0]);
    });
    for (int p : candidates) {
        Pair& pair = pairs[p];
        pair.productsReady = false;
        pair.blockStart = pair.productsFrame;
        pair.blockLength = 1;
    }
    forEachParallel(candidates, [&](int p) { searchBlock(pairs[p]); });
}

// dense: the grid points of every frame that became final with frame @p newest.
void SpaceTimeDetector::Impl::denseStep(long newest) {
    for (Pair& pair : pairs) {
        const DenseGrid& grid = *pair.grid;
        for (; grid.finalAfter(pair.nextGridFrame) <= newest;
             pair.nextGridFrame += grid.frameStep()) {
            for (int row : grid.rows()) {
                for (int column : grid.columns()) {
                    FeaturePoint point;
                    point.x = column;
                    point.y = size.height - row;
                    point.t = static_cast<int>(pair.nextGridFrame);
                    point.spatialVariance = pair.sigma2;
                    point.temporalVariance = pair.tau2;
                    point.value = 0;
                    pair.pending.push_back(std::move(point));
                }
            }
        }
        pair.doneThrough = std::max(pair.doneThrough, grid.decidedThrough(newest));
    }
}

// Makes each pair's products and smooths them in space straight into their slots (one task
// per product, so that even one pair keeps every core busy).
void SpaceTimeDetector::Impl::productStages(const std::vector<int>& candidates) {
    std::vector<int> tasks;
    for (int p : candidates)
        for (int i = 0; i < kProducts; ++i) tasks.push_back(p * kProducts + i);
    forEachParallel(tasks, [&](int task) {
        Pair& pair = pairs[task / kProducts];
        const int i = task % kProducts;
        thread_local cv::Mat product;
        gradientProduct(pair.before, pair.current, *pair.after, std::sqrt(pair.sigma2),
                        std::sqrt(pair.tau2), i, product);
        const long slot = (static_cast<long>(pair.productsFrame) - first) % pair.slots;
        cv::Mat smoothed(size, CV_32FC1,
                         pair.products[i].get() + slot * static_cast<long>(size.area()));
        smoothSpace(product, smoothed, pair.productTaps);
    });
    for (int p : candidates) {
        pairs[p].productsReady = false;
        pairs[p].productsThrough = pairs[p].productsFrame;
    }
    responseStages(candidates);
}

// Chooses the pair's next block of responses once the products around all of it are stored
// (at the end, whatever is left), with the order of each temporal sum: that of a ring of
// 2 h + 1 slots filled from frame first - h on, the first frame repeated before it and the
// last after it, so that the sums are those of FrameBuffer::ConvolveTime over such a ring.
bool SpaceTimeDetector::Impl::planBlock(Pair& pair) {
    const long h = pair.productHalf;
    const long available =
        pair.productsThrough >= last ? last : pair.productsThrough - h;  // last response
    const long length = std::min<long>(kBlock, available - pair.nextCentre + 1);
    if (length < 1 || (length < kBlock && available != last)) return false;
    pair.blockStart = pair.nextCentre;
    pair.blockLength = static_cast<int>(length);
    const long n = 2 * h + 1;
    const auto pixels = static_cast<std::size_t>(size.area());
    for (int b = 0; b < pair.blockLength; ++b) {
        const long centre = pair.blockStart + b;
        std::vector<float>& weights = pair.blockWeights[b];
        weights.resize(n);
        for (int i = 0; i < kProducts; ++i) pair.blockRows[b * kProducts + i].resize(n);
        for (long s = 0; s < n; ++s) {
            // Ring slot s holds frame centre - h + m with (that frame - first + h) = s mod n.
            const long m = ((s - centre + first) % n + n) % n;
            const long frame =
                std::clamp(centre - h + m, static_cast<long>(first), pair.productsThrough);
            weights[s] = static_cast<float>(pair.productTime[2 * h - m]);
            const std::size_t slot = static_cast<std::size_t>((frame - first) % pair.slots);
            for (int i = 0; i < kProducts; ++i)
                pair.blockRows[b * kProducts + i][s] = pair.products[i].get() + slot * pixels;
        }
        pair.blockResponses[b].create(size, CV_32FC1);
    }
    return true;
}

// The block's responses on pixels [begin, end), tile by tile: each tile's six sums per
// response from the stored products, then H, so that mu is never stored whole.
void SpaceTimeDetector::Impl::responseTiles(Pair& pair, std::size_t begin, std::size_t end) const {
    thread_local std::vector<float> sums;
    sums.resize(static_cast<std::size_t>(kBlock) * kProducts * kTile);
    thread_local std::vector<const float*> rows;
    const int n = 2 * pair.productHalf + 1;
    rows.resize(n);
    const auto sum = [&](int b, int i) {
        return sums.data() + static_cast<std::size_t>(b * kProducts + i) * kTile;
    };
    for (std::size_t tile = begin; tile < end; tile += kTile) {
        const int length = static_cast<int>(std::min<std::size_t>(kTile, end - tile));
        // One product's frames for the whole block while they are in the first-level cache.
        for (int i = 0; i < kProducts; ++i) {
            for (int b = 0; b < pair.blockLength; ++b) {
                const std::vector<const float*>& start = pair.blockRows[b * kProducts + i];
                for (int s = 0; s < n; ++s) rows[s] = start[s] + tile;
                orderedWeightedSum(rows.data(), pair.blockWeights[b].data(), n, length, sum(b, i));
            }
        }
        for (int b = 0; b < pair.blockLength; ++b) {
            const float* mu[kProducts];
            for (int i = 0; i < kProducts; ++i) mu[i] = sum(b, i);
            cornerResponseRow(mu, options.k, length, pair.blockResponses[b].ptr<float>() + tile);
        }
    }
}

// The maxima of the frame before each new response, once three responses are known.
void SpaceTimeDetector::Impl::searchBlock(Pair& pair) {
    for (int b = 0; b < pair.blockLength; ++b) {
        const long centre = pair.blockStart + b;
        pair.responses.AddFrameNumbered(pair.blockResponses[b], static_cast<int>(centre));
        if (++pair.responseCount < 3) continue;
        FeatureList found;
        pair.responses.FindLocalMaxima(found, true);
        for (FeaturePoint& point : found) {
            if (!(static_cast<double>(point.value) > options.threshold)) continue;
            point.y = size.height - point.y;
            point.spatialVariance = pair.sigma2;
            point.temporalVariance = pair.tau2;
            pair.pending.push_back(std::move(point));
        }
        pair.doneThrough = centre - 1;
    }
    pair.nextCentre = pair.blockStart + pair.blockLength;
}

// Every block of responses the stored products allow, then its maxima.
void SpaceTimeDetector::Impl::responseStages(const std::vector<int>& candidates) {
    const auto pixels = static_cast<std::size_t>(size.area());
    const int chunks = static_cast<int>((pixels + kChunk - 1) / kChunk);
    for (;;) {
        std::vector<int> due, tasks;
        for (int p : candidates) {
            if (!planBlock(pairs[p])) continue;
            due.push_back(p);
            for (int c = 0; c < chunks; ++c) tasks.push_back(p * chunks + c);
        }
        if (due.empty()) return;
        forEachParallel(tasks, [&](int task) {
            const std::size_t begin = static_cast<std::size_t>(task % chunks) * kChunk;
            responseTiles(pairs[task / chunks], begin, std::min(pixels, begin + kChunk));
        });
        forEachParallel(due, [&](int p) { searchBlock(pairs[p]); });
    }
}

void SpaceTimeDetector::Impl::emit(FeatureList& points) {
    long through = last;
    for (const Pair& pair : pairs) through = std::min(through, pair.doneThrough);
    FeatureList ready;
    for (long t = emittedThrough + 1; t <= through; ++t) {
        for (Pair& pair : pairs) {
            while (!pair.pending.empty() && pair.pending.front().t == t) {
                pair.pending.front().id = nextId++;
                ready.push_back(std::move(pair.pending.front()));
                pair.pending.pop_front();
            }
        }
    }
    emittedThrough = std::max(emittedThrough, through);
    if (descriptors) {
        descriptors->describe(ready, through, points);
    } else {
        points.insert(points.end(), std::make_move_iterator(ready.begin()),
                      std::make_move_iterator(ready.end()));
    }
}

SpaceTimeDetector::SpaceTimeDetector(cv::Size frameSize, const DetectorOptions& options,
                                     int firstFrame)
    : impl_(std::make_unique<Impl>()) {
    if (frameSize.width < 1 || frameSize.height < 1) {
        throw std::invalid_argument("frame size " + std::to_string(frameSize.width) + "x" +
                                    std::to_string(frameSize.height) + " is empty");
    }
    if (firstFrame < 0) {
        throw std::invalid_argument("first frame " + std::to_string(firstFrame) + " is negative");
    }
    validateDetectorOptions(options);
    Impl& d = *impl_;
    d.size = frameSize;
    d.options = options;
    d.first = firstFrame;
    if (options.kind == DetectorKind::Trajectories) {
        d.trajectories = std::make_unique<TrajectoryDetector>(frameSize, options, firstFrame);
        return;
    }
    checkDetectorMemory(frameSize, options);
    d.emittedThrough = static_cast<long>(firstFrame) - 1;

    std::vector<double> sigmas = options.spatialVariances;
    std::vector<double> taus = options.temporalVariances;
    std::sort(sigmas.begin(), sigmas.end());
    std::sort(taus.begin(), taus.end());
    for (double tau2 : taus) {
        d.maxTimeHalf = std::max(d.maxTimeHalf, halfSize(makeGaussianKernel(tau2, 0, 3)));
    }
    const DetectorKind kind = options.kind;
    // Dense sampling smooths nothing: it has no level.
    if (kind != DetectorKind::Dense) d.levels.resize(sigmas.size());
    d.pairs.resize(sigmas.size() * taus.size());
    for (std::size_t s = 0; s < sigmas.size(); ++s) {
        if (kind != DetectorKind::Dense) {
            Impl::Level& level = d.levels[s];
            level.sigma2 = sigmas[s];
            level.taps = gaussianTaps(sigmas[s]);
            level.smoothed.init(d.maxTimeHalf, 2 * d.maxTimeHalf + 1);
        }
        for (std::size_t u = 0; u < taus.size(); ++u) {
            Impl::Pair& pair = d.pairs[s * taus.size() + u];
            pair.level = static_cast<int>(s);
            pair.sigma2 = sigmas[s];
            pair.tau2 = taus[u];
            pair.timeTaps = makeGaussianKernel(taus[u], 0, 3);
            if (kind == DetectorKind::Harris) {
                pair.productTaps = gaussianTaps(2 * sigmas[s]);
                pair.productTime = makeGaussianKernel(2 * taus[u], 0, 3);
                pair.productHalf = halfSize(pair.productTime);
                pair.slots = 2 * pair.productHalf + kBlock;
                for (std::unique_ptr<float[]>& product : pair.products) {
                    product.reset(
                        new float[static_cast<std::size_t>(pair.slots) * frameSize.area()]);
                }
            } else if (kind == DetectorKind::Gabor) {
                // ConvolveTime weighs the newest frame first: the taps reversed, so that the
                // window is correlated with them.
                const GaborTaps taps = gaborTaps(taus[u]);
                pair.evenKernel.assign(taps.even.rbegin(), taps.even.rend());
                pair.oddKernel.assign(taps.odd.rbegin(), taps.odd.rend());
            } else if (kind == DetectorKind::Dense) {
                pair.grid = std::make_unique<DenseGrid>(frameSize, sigmas[s], taus[u], firstFrame);
                pair.nextGridFrame = pair.grid->firstPointFrame();
            }
            pair.productsThrough = static_cast<long>(firstFrame) - 1;
            pair.nextCentre = firstFrame;
            pair.doneThrough = static_cast<long>(firstFrame) - 1;
        }
    }
    if (options.hog || options.hof) {
        d.descriptors = std::make_unique<DescriptorStream>(frameSize, options.hog, options.hof,
                                                           firstFrame, taus.back());
    }
    for (int i = 0; i < static_cast<int>(d.levels.size()); ++i) d.levelOrder.push_back(i);
    for (int i = 0; i < static_cast<int>(d.pairs.size()); ++i) d.pairOrder.push_back(i);
    std::reverse(d.levelOrder.begin(), d.levelOrder.end());
    std::stable_sort(d.pairOrder.begin(), d.pairOrder.end(), [&d](int a, int b) {
        const Impl::Pair &p = d.pairs[a], &q = d.pairs[b];
        return p.productTaps.rows + p.timeTaps.size() > q.productTaps.rows + q.timeTaps.size();
    });
}

SpaceTimeDetector::~SpaceTimeDetector() = default;

void SpaceTimeDetector::addFrame(const cv::Mat& frame, FeatureList& points) {
    Impl& d = *impl_;
    if (d.finished) throw std::logic_error("SpaceTimeDetector::addFrame after finish");
    if (frame.size() != d.size) {
        throw std::invalid_argument("frame of " + std::to_string(frame.cols) + "x" +
                                    std::to_string(frame.rows) + " pixels, expected " +
                                    std::to_string(d.size.width) + "x" +
                                    std::to_string(d.size.height));
    }
    const long frameNumber = static_cast<long>(d.first) + d.added;
    if (frameNumber > INT_MAX - d.maxTimeHalf - 2) {
        throw std::out_of_range("frame number " + std::to_string(frameNumber) +
                                " is beyond the largest the detector can label");
    }
    if (d.trajectories) {
        if (frame.channels() == 1) {
            if (frame.depth() != CV_8U) throw std::invalid_argument("expected an 8-bit frame");
            d.trajectories->addFrame(frame, points);
        } else {
            greyFloat(frame, d.grey8, d.grey);
            d.trajectories->addFrame(d.grey8, points);
        }
        ++d.added;
        return;
    }
    greyFloat(frame, d.grey8, d.grey);
    ++d.added;
    const int number = static_cast<int>(frameNumber);
    // The descriptors' per-frame work (gradients, optical flow) runs beside the detection.
    if (d.descriptors) d.descriptors->startFrame(d.grey8);
    if (d.options.kind == DetectorKind::Dense) {
        d.denseStep(number);
    } else {
        forEachParallel(d.levelOrder, [&](int s) {
            Impl::Level& level = d.levels[s];
            smoothSpace(d.grey, level.scratch, level.taps);
            level.smoothed.push(level.scratch, number);
        });
        d.advancePairs(number);
    }
    if (d.descriptors) d.descriptors->endFrame();
    d.emit(points);
}

void SpaceTimeDetector::finish(FeatureList& points) {
    Impl& d = *impl_;
    if (d.finished) return;
    d.finished = true;
    if (d.trajectories) {
        d.trajectories->finish(points);
        return;
    }
    if (d.added == 0) return;
    d.last = static_cast<long>(d.first) + d.added - 1;
    if (d.descriptors) d.descriptors->finish(static_cast<int>(d.last));
    if (d.options.kind == DetectorKind::Dense) {
        for (Impl::Pair& pair : d.pairs) pair.doneThrough = d.last;
        d.emit(points);
        return;
    }
    // Pad the smoothed frames with the last one until every pair has L of the last frame.
    for (int j = 0; j < d.maxTimeHalf; ++j) {
        forEachParallel(d.levelOrder, [&](int s) {
            Impl::Level& level = d.levels[s];
            level.smoothed.repeatNewest(level.scratch);
        });
        d.advancePairs(d.levels[0].smoothed.newest);
    }
    // harris and hessian: the products or response of the last frame (L after it repeats it),
    // then the responses left. gabor's window reached the last frame in the padding.
    if (d.options.kind != DetectorKind::Gabor) {
        for (Impl::Pair& pair : d.pairs) {
            pair.productsFrame = pair.currentFrame;
            pair.after = &pair.current;
        }
        d.respond(d.pairOrder);
    }
    for (Impl::Pair& pair : d.pairs) pair.doneThrough = d.last;
    d.emit(points);
}

int SpaceTimeDetector::framesAdded() const { return impl_->added; }

cv::Size SpaceTimeDetector::frameSize() const { return impl_->size; }

std::string SpaceTimeDetector::notice() const {
    return impl_->trajectories ? impl_->trajectories->notice() : std::string();
}

long SpaceTimeDetector::framesHeld() const {
    const Impl& d = *impl_;
    if (d.trajectories) {
        // Per scale about eight frame-sized float images of its size (grey frames, flow and its
        // medians, eigenvalues), the scales together about twice the first.
        return 2 * 8;
    }
    // Grey frames, and per thread the spatial filter's row-filtered image (harris: and a
    // product); dense sampling filters nothing.
    const long scratch = d.options.kind == DetectorKind::Harris  ? 2
                         : d.options.kind == DetectorKind::Dense ? 0
                                                                 : 1;
    long held = 2 + scratch * cv::getNumThreads();
    for (const Impl::Level& level : d.levels) held += level.smoothed.frames.Length() + 1;
    for (const Impl::Pair& pair : d.pairs) {
        switch (d.options.kind) {
            case DetectorKind::Harris:
                held += 3 + kProducts * pair.slots + kBlock;  // L, smoothed products, a block
                break;
            case DetectorKind::Hessian:
                held += 3 + 1;  // L and a response
                break;
            case DetectorKind::Gabor:
                held += 2 + 1;  // the even and odd responses and their energy
                break;
            case DetectorKind::Dense:
            case DetectorKind::Trajectories:
                continue;
        }
        held += pair.responses.Length();
    }
    return held;
}

}  // namespace stview
