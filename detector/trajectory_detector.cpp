#include "detector/trajectory_detector.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "detector/memory.hpp"
#include "detector/parallel.hpp"
#include "detector/trajectory_histograms.hpp"

namespace stview {
namespace {

constexpr int kPatch = FrameHistograms::patchSize;
constexpr int kTemporalCells = 3;
constexpr int kHogCell = 4 * FrameHistograms::gradientBins;  // 2 x 2 spatial cells
constexpr int kHofCell = 4 * FrameHistograms::flowBins;
constexpr double kEigenFraction = 0.001;  // of the frame's largest eigenvalue
constexpr double kLongestMove = 0.7;      // of the track's length
constexpr double kLeastVariance = 3.0;    // (sqrt 3)^2: a standard deviation of sqrt 3

// The double whose shortest decimal form is the float's: what a float32 value is written as
// among the record's reals (it reads back to the same float).
double shortFloat(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

// The flow from one grey frame to the next, as HOF's.
void farneback(const cv::Mat& from, const cv::Mat& to, cv::Mat& flow) {
    cv::calcOpticalFlowFarneback(from, to, flow, 0.5, 3, 15, 3, 5, 1.2, 0);
}

// Offsets of the descriptor sums in a trajectory's buffer; -1 for a block not asked for.
struct SumLayout {
    int hog = -1, hof = -1, mbhx = -1, mbhy = -1, length = 0;
    explicit SumLayout(const DetectorOptions& options) {
        if (options.hog) hog = std::exchange(length, length + kTemporalCells * kHogCell);
        if (options.hof) hof = std::exchange(length, length + kTemporalCells * kHofCell);
        if (options.mbh) {
            mbhx = std::exchange(length, length + kTemporalCells * kHogCell);
            mbhy = std::exchange(length, length + kTemporalCells * kHogCell);
        }
    }
};

}  // namespace

std::vector<cv::Size> trajectoryScaleSizes(cv::Size frame, int most) {
    std::vector<cv::Size> sizes;
    for (int s = 0; s < most; ++s) {
        const double q = std::pow(2.0, -s / 2.0);
        const cv::Size size(static_cast<int>(std::lround(frame.width * q)),
                            static_cast<int>(std::lround(frame.height * q)));
        if (size.width < kPatch || size.height < kPatch) break;
        sizes.push_back(size);
    }
    return sizes;
}

ColumnLayout trajectoryLayout(const DetectorOptions& options) {
    const int L = options.trajectoryLength;
    ColumnLayout layout{{"track", 2 * (L + 1)}};
    if (options.trajectoryShape) layout.push_back({"trajectory", 2 * L});
    if (options.hog) layout.push_back({"hog", kTemporalCells * kHogCell});
    if (options.hof) layout.push_back({"hof", kTemporalCells * kHofCell});
    if (options.mbh) layout.push_back({"mbh", 2 * kTemporalCells * kHogCell});
    return layout;
}

ColumnLayout detectorLayout(const DetectorOptions& options) {
    return options.kind == DetectorKind::Trajectories
               ? trajectoryLayout(options)
               : pointDescriptorLayout(options.hog, options.hof);
}

struct ScaleTracker::Impl {
    struct Track {
        int start = 0;
        std::vector<cv::Point2f> points;
        std::vector<float> sums;
    };

    cv::Size frame, size;
    int scale = 0;
    DetectorOptions options;
    SumLayout sums;
    TrajectoryBlocks blocks;
    int cellsX = 0, cellsY = 0;
    bool unnormalised = false;
    std::vector<Track> tracks;
    // Per frame, kept for their buffers.
    cv::Mat eigen, greyFloat, flowX, flowY, medianX, medianY;
    std::vector<unsigned char> occupied;

    Impl(cv::Size frameSize, int s, cv::Size scaleSize, const DetectorOptions& o)
        : frame(frameSize), size(scaleSize), scale(s), options(o), sums(o) {
        blocks.hog = o.hog;
        blocks.hof = o.hof;
        blocks.mbh = o.mbh;
        cellsX = size.width / o.trajectoryStride;
        cellsY = size.height / o.trajectoryStride;
    }

    int temporalCell(int i) const {
        const int L = options.trajectoryLength;
        for (int k = 1; k < kTemporalCells; ++k)
            if (i < k * L / kTemporalCells) return k - 1;
        return kTemporalCells - 1;
    }

    void sample(int frameNumber, const cv::Mat& grey);
    void record(const Track& track, std::vector<TrajectoryRecord>& done) const;
};

void ScaleTracker::Impl::sample(int frameNumber, const cv::Mat& grey) {
    if (cellsX == 0 || cellsY == 0) return;
    const int W = options.trajectoryStride;
    occupied.assign(static_cast<std::size_t>(cellsX) * cellsY, 0);
    for (const Track& track : tracks) {
        const cv::Point2f& p = track.points.back();
        const int i = static_cast<int>(std::floor(p.x / W)),
                  j = static_cast<int>(std::floor(p.y / W));
        if (i >= 0 && i < cellsX && j >= 0 && j < cellsY) occupied[j * cellsX + i] = 1;
    }
    cv::cornerMinEigenVal(grey, eigen, 3, 3);
    double largest = 0;
    cv::minMaxLoc(eigen, nullptr, &largest);
    if (!(largest > 0)) return;
    const double least = kEigenFraction * largest;
    for (int j = 0; j < cellsY; ++j) {
        const int y = j * W + W / 2;
        const float* row = eigen.ptr<float>(y);
        for (int i = 0; i < cellsX; ++i) {
            if (occupied[j * cellsX + i]) continue;
            const int x = i * W + W / 2;
            if (!(row[x] >= least)) continue;
            Track track;
            track.start = frameNumber;
            track.points.reserve(options.trajectoryLength + 1);
            track.points.emplace_back(static_cast<float>(x), static_cast<float>(y));
            track.sums.assign(sums.length, 0.0f);
            tracks.push_back(std::move(track));
        }
    }
}

void ScaleTracker::Impl::record(const Track& track, std::vector<TrajectoryRecord>& done) const {
    const int L = options.trajectoryLength;
    const std::vector<cv::Point2f>& P = track.points;
    // Keeping, in the scale's pixels.
    double length = 0, longest = 0;
    std::vector<double> moves(L);
    for (int i = 0; i < L; ++i) {
        const cv::Point2f d = P[i + 1] - P[i];
        moves[i] = std::hypot(static_cast<double>(d.x), static_cast<double>(d.y));
        length += moves[i];
        longest = std::max(longest, moves[i]);
    }
    if (!(length > 0) || longest > kLongestMove * length) return;
    double meanX = 0, meanY = 0;
    for (const cv::Point2f& p : P) {
        meanX += p.x;
        meanY += p.y;
    }
    meanX /= L + 1;
    meanY /= L + 1;
    double varX = 0, varY = 0;
    for (const cv::Point2f& p : P) {
        varX += (p.x - meanX) * (p.x - meanX);
        varY += (p.y - meanY) * (p.y - meanY);
    }
    varX /= L + 1;
    varY /= L + 1;
    if (varX < kLeastVariance && varY < kLeastVariance) return;

    // The original frame's positions.
    const double rx = static_cast<double>(frame.width) / size.width;
    const double ry = static_cast<double>(frame.height) / size.height;
    std::vector<float> X(L + 1), Y(L + 1);
    double sumX = 0, sumY = 0;
    for (int i = 0; i <= L; ++i) {
        X[i] = static_cast<float>((P[i].x + 0.5) * rx - 0.5);
        Y[i] = static_cast<float>((P[i].y + 0.5) * ry - 0.5);
        sumX += X[i];
        sumY += Y[i];
    }
    double value = 0;
    for (int i = 0; i < L; ++i) {
        value +=
            std::hypot(static_cast<double>(X[i + 1]) - X[i], static_cast<double>(Y[i + 1]) - Y[i]);
    }

    TrajectoryRecord out;
    out.scale = scale;
    out.firstRow = Y[0];
    out.firstColumn = X[0];
    FeaturePoint& point = out.point;
    point.x = static_cast<int>(std::lround(sumX / (L + 1)));
    point.y = frame.height - static_cast<int>(std::lround(sumY / (L + 1)));
    point.t = track.start + L / 2;
    const double q = std::pow(2.0, -scale / 2.0);
    const double side = kPatch / (6.0 * q);
    point.spatialVariance = shortFloat(static_cast<float>(side * side));
    point.temporalVariance = shortFloat(static_cast<float>(L / 2.0 * (L / 2.0)));
    point.value = shortFloat(static_cast<float>(value));

    auto array = std::make_shared<std::vector<double>>();
    array->reserve(2 * (L + 1) + (options.trajectoryShape ? 2 * L : 0) + sums.length);
    for (int i = 0; i <= L; ++i) {
        array->push_back(X[i]);
        array->push_back(static_cast<float>(frame.height - static_cast<double>(Y[i])));
    }
    if (options.trajectoryShape) {
        for (int i = 0; i < L; ++i) {
            const cv::Point2f d = P[i + 1] - P[i];
            array->push_back(static_cast<float>(d.x / length));
            array->push_back(static_cast<float>(d.y / length));
        }
    }
    std::vector<float> descriptor = track.sums;
    if (!unnormalised) {
        for (const int offset : {sums.hog, sums.mbhx, sums.mbhy}) {
            if (offset >= 0) normaliseL2(descriptor.data() + offset, kTemporalCells * kHogCell);
        }
        if (sums.hof >= 0) normaliseL2(descriptor.data() + sums.hof, kTemporalCells * kHofCell);
    }
    array->insert(array->end(), descriptor.begin(), descriptor.end());
    point.array = std::move(array);
    done.push_back(std::move(out));
}

ScaleTracker::ScaleTracker(cv::Size frameSize, int scale, cv::Size scaleSize,
                           const DetectorOptions& options)
    : impl_(std::make_unique<Impl>(frameSize, scale, scaleSize, options)) {}

ScaleTracker::~ScaleTracker() = default;

std::size_t ScaleTracker::live() const { return impl_->tracks.size(); }

void ScaleTracker::keepUnnormalised(bool keep) { impl_->unnormalised = keep; }

cv::Size ScaleTracker::size() const { return impl_->size; }

void ScaleTracker::step(int frameNumber, const cv::Mat& grey, const cv::Mat& flow,
                        std::vector<TrajectoryRecord>& done) {
    Impl& d = *impl_;
    if (grey.size() != d.size || grey.type() != CV_8UC1 || flow.size() != d.size ||
        flow.type() != CV_32FC2) {
        throw std::invalid_argument("ScaleTracker::step: a grey frame and flow of " +
                                    std::to_string(d.size.width) + "x" +
                                    std::to_string(d.size.height) + " pixels expected");
    }
    d.sample(frameNumber, grey);
    if (d.tracks.empty()) return;

    std::unique_ptr<FrameHistograms> histograms;
    if (d.sums.length > 0) {
        grey.convertTo(d.greyFloat, CV_32F, 1.0 / 255);
        histograms = std::make_unique<FrameHistograms>(
            d.greyFloat, d.blocks.hof || d.blocks.mbh ? flow : cv::Mat(), d.blocks);
    }
    cv::Mat components[2] = {d.flowX, d.flowY};
    cv::split(flow, components);
    cv::medianBlur(components[0], d.medianX, 3);
    cv::medianBlur(components[1], d.medianY, 3);
    d.flowX = components[0];
    d.flowY = components[1];

    const int L = d.options.trajectoryLength;
    const float right = static_cast<float>(d.size.width - 1);
    const float bottom = static_cast<float>(d.size.height - 1);
    std::size_t kept = 0;
    for (std::size_t n = 0; n < d.tracks.size(); ++n) {
        Impl::Track& track = d.tracks[n];
        const int i = static_cast<int>(track.points.size()) - 1;
        const cv::Point2f p = track.points.back();
        const int cx = static_cast<int>(std::floor(p.x + 0.5f));
        const int cy = static_cast<int>(std::floor(p.y + 0.5f));
        if (histograms) {
            const int k = d.temporalCell(i);
            float* s = track.sums.data();
            const auto at = [&](int offset, int cell) {
                return offset < 0 ? nullptr : s + offset + k * cell;
            };
            histograms->addPatch(cx, cy, at(d.sums.hog, kHogCell), at(d.sums.hof, kHofCell),
                                 at(d.sums.mbhx, kHogCell), at(d.sums.mbhy, kHogCell));
        }
        const cv::Point2f next(p.x + d.medianX.at<float>(cy, cx),
                               p.y + d.medianY.at<float>(cy, cx));
        if (!(next.x >= 0 && next.x <= right && next.y >= 0 && next.y <= bottom)) continue;
        track.points.push_back(next);
        if (static_cast<int>(track.points.size()) == L + 1) {
            d.record(track, done);
            continue;
        }
        if (kept != n) d.tracks[kept] = std::move(track);
        ++kept;
    }
    d.tracks.resize(kept);
}

struct TrajectoryDetector::Impl {
    struct Scale {
        std::unique_ptr<ScaleTracker> tracker;
        cv::Mat previous, current, flow;
        std::vector<TrajectoryRecord> done;
    };
    cv::Size size;
    DetectorOptions options;
    int first = 0;
    int added = 0;
    int nextId = 0;
    bool finished = false;
    std::vector<Scale> scales;
    std::vector<int> order;  // largest first
};

TrajectoryDetector::TrajectoryDetector(cv::Size frameSize, const DetectorOptions& options,
                                       int firstFrame)
    : impl_(std::make_unique<Impl>()) {
    if (frameSize.width < 1 || frameSize.height < 1) {
        throw std::invalid_argument("frame size " + std::to_string(frameSize.width) + "x" +
                                    std::to_string(frameSize.height) + " is empty");
    }
    validateDetectorOptions(options);
    checkDetectorMemory(frameSize, options);
    Impl& d = *impl_;
    d.size = frameSize;
    d.options = options;
    d.first = firstFrame;
    const std::vector<cv::Size> sizes = trajectoryScaleSizes(frameSize, options.trajectoryScales);
    d.scales.resize(sizes.size());
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        d.scales[s].tracker =
            std::make_unique<ScaleTracker>(frameSize, static_cast<int>(s), sizes[s], options);
        d.order.push_back(static_cast<int>(s));
    }
}

TrajectoryDetector::~TrajectoryDetector() = default;

void TrajectoryDetector::addFrame(const cv::Mat& grey, FeatureList& points) {
    Impl& d = *impl_;
    if (d.finished) throw std::logic_error("TrajectoryDetector::addFrame after finish");
    if (grey.size() != d.size || grey.type() != CV_8UC1) {
        throw std::invalid_argument("TrajectoryDetector::addFrame: an 8-bit grey frame of " +
                                    std::to_string(d.size.width) + "x" +
                                    std::to_string(d.size.height) + " pixels expected");
    }
    const int number = d.first + d.added;
    const bool track = d.added > 0;
    ++d.added;
    forEachParallel(d.order, [&](int s) {
        Impl::Scale& scale = d.scales[s];
        const cv::Size size = scale.tracker->size();
        if (s == 0) {
            grey.copyTo(scale.current);
        } else {
            cv::resize(grey, scale.current, size, 0, 0, cv::INTER_LINEAR);
        }
        if (track) {
            farneback(scale.previous, scale.current, scale.flow);
            scale.tracker->step(number - 1, scale.previous, scale.flow, scale.done);
        }
        std::swap(scale.previous, scale.current);
    });
    std::vector<TrajectoryRecord> done;
    for (Impl::Scale& scale : d.scales) {
        std::move(scale.done.begin(), scale.done.end(), std::back_inserter(done));
        scale.done.clear();
    }
    std::sort(done.begin(), done.end(), [](const TrajectoryRecord& a, const TrajectoryRecord& b) {
        if (a.scale != b.scale) return a.scale < b.scale;
        if (a.point.y != b.point.y) return a.point.y > b.point.y;  // rows downward
        if (a.point.x != b.point.x) return a.point.x < b.point.x;
        if (a.firstRow != b.firstRow) return a.firstRow < b.firstRow;
        return a.firstColumn < b.firstColumn;
    });
    for (TrajectoryRecord& record : done) {
        record.point.id = d.nextId++;
        points.push_back(std::move(record.point));
    }
}

void TrajectoryDetector::finish(FeatureList&) {
    Impl& d = *impl_;
    if (d.finished) return;
    d.finished = true;
    // Unfinished trajectories are dropped; the images go with them.
    d.scales.clear();
}

int TrajectoryDetector::scales() const { return static_cast<int>(impl_->scales.size()); }

std::size_t TrajectoryDetector::live() const {
    std::size_t n = 0;
    for (const Impl::Scale& scale : impl_->scales) n += scale.tracker->live();
    return n;
}

void TrajectoryDetector::keepUnnormalised(bool keep) {
    for (Impl::Scale& scale : impl_->scales) scale.tracker->keepUnnormalised(keep);
}

std::string TrajectoryDetector::notice() const {
    if (!impl_->scales.empty()) return "";
    return "frames of " + std::to_string(impl_->size.width) + "x" +
           std::to_string(impl_->size.height) + " pixels are smaller than the " +
           std::to_string(kPatch) + "-pixel descriptor patch: no trajectory";
}

std::uint64_t trajectoryMemoryNeed(cv::Size frameSize, const DetectorOptions& options) {
    const std::vector<cv::Size> sizes = trajectoryScaleSizes(frameSize, options.trajectoryScales);
    const long double L = options.trajectoryLength;
    const SumLayout sums(options);
    TrajectoryBlocks blocks;
    blocks.hog = options.hog;
    blocks.hof = options.hof;
    blocks.mbh = options.mbh;
    // A live trajectory: its record, points, sums and their allocations.
    const long double trackBytes = 96 + 8 * (L + 1) + 4.0L * sums.length + 64;
    // A completed record: the point, its array of doubles and their allocations.
    const long double recordBytes =
        160 + 8 * (2 * (L + 1) + (options.trajectoryShape ? 2 * L : 0) + sums.length) + 64;
    long double need = 0, largest = 0;
    const long double threads = std::max(1, cv::getNumThreads());
    for (const cv::Size& size : sizes) {
        const long double pixels = static_cast<long double>(size.width) * size.height;
        const long double cells = static_cast<long double>(size.width / options.trajectoryStride) *
                                  (size.height / options.trajectoryStride);
        need += cells * L * trackBytes + cells * recordBytes + cells;
        // Two grey frames, the flow, its components and their medians, the eigenvalues and
        // the float grey frame.
        need += pixels * (2 + 8 + 8 + 8 + 4 + 4);
        if (options.hog || options.hof || options.mbh) {
            need += static_cast<long double>(FrameHistograms::bytesFor(size, blocks));
        }
        largest = std::max(largest, pixels);
    }
    // Farneback's pyramids, polynomial expansions and working images (about 24 float images at
    // their peak) on each thread, for the largest scale.
    need += threads * 24 * 4 * largest;
    return static_cast<std::uint64_t>(std::ceil(need));
}

}  // namespace stview
