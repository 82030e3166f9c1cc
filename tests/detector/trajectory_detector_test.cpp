// Dense trajectories against known motion: a textured square moving a fixed step per frame
// over a still textured background.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

#include <opencv2/imgproc.hpp>

#include "detector/trajectory_detector.hpp"

namespace stview {
namespace {

constexpr int kWidth = 256, kHeight = 192, kSide = 120, kStep = 2;  // the step is (2, 2)
constexpr int kStartX = 40, kStartY = 20;
constexpr int L = 15;

cv::Mat texture(cv::Size size, unsigned seed) {
    cv::RNG rng(seed);
    cv::Mat coarse(size.height / 4 + 1, size.width / 4 + 1, CV_8UC1);
    rng.fill(coarse, cv::RNG::UNIFORM, 0, 256);
    cv::Mat fine;
    cv::resize(coarse, fine, cv::Size(), 4, 4, cv::INTER_CUBIC);
    return fine(cv::Rect(cv::Point(), size)).clone();
}

// Frame t: the square's top left corner at (kStartX + 2t, kStartY + 2t).
cv::Mat frameAt(int t) {
    static const cv::Mat background = texture({kWidth, kHeight}, 1);
    static const cv::Mat square = texture({kSide, kSide}, 2);
    cv::Mat frame = background.clone();
    square.copyTo(frame(cv::Rect(kStartX + kStep * t, kStartY + kStep * t, kSide, kSide)));
    return frame;
}

// Distance of a point at frame t from the square's nearest edge (negative outside).
double inside(double x, double y, int t) {
    const double left = kStartX + kStep * t, top = kStartY + kStep * t;
    return std::min({x - left, left + kSide - 1 - x, y - top, top + kSide - 1 - y});
}

FeatureList run(const DetectorOptions& options, int frames, bool raw = false) {
    TrajectoryDetector detector({kWidth, kHeight}, options);
    detector.keepUnnormalised(raw);
    FeatureList points;
    for (int t = 0; t < frames; ++t) detector.addFrame(frameAt(t), points);
    detector.finish(points);
    return points;
}

DetectorOptions trajectories(int scales) {
    DetectorOptions options = detectorDefaults(DetectorKind::Trajectories);
    options.trajectoryScales = scales;
    return options;
}

// Track point i of a record: (X, Y) with Y counted downward.
cv::Point2d trackPoint(const FeaturePoint& p, int i) {
    return {(*p.array)[2 * i], kHeight - (*p.array)[2 * i + 1]};
}

double sum(const FeaturePoint& p, int from, int count, int stride = 1, int offset = 0) {
    double s = 0;
    for (int i = offset; i < count; i += stride) s += (*p.array)[from + i];
    return s;
}

constexpr int kTrack = 2 * (L + 1), kShape = 2 * L, kHog = 96, kHof = 108, kMbh = 192;
constexpr int kHofAt = kTrack + kShape + kHog, kMbhAt = kHofAt + kHof;

TEST(TrajectoryDetector, KnownMotionGivesTheStepItsBinsAndQuietMotionBoundaries) {
    const FeatureList raw = run(trajectories(1), 24, true);
    int interior = 0, background = 0;
    double interiorMbh = 0, edgeMbh = 0;
    int edges = 0;
    for (const FeaturePoint& p : raw) {
        const int t0 = p.t - L / 2;
        const cv::Point2d first = trackPoint(p, 0);
        const double depth = inside(first.x, first.y, t0);
        double mbh = 0;
        for (int i = 0; i < kMbh; ++i) mbh += (*p.array)[kMbhAt + i] * (*p.array)[kMbhAt + i];
        if (depth < -40) ++background;
        if (std::abs(depth) <= 2) {
            edgeMbh += mbh;
            ++edges;
        }
        if (depth < 30) continue;
        // Well inside: every move is the step, the shape the step over the length.
        ++interior;
        const double length = L * kStep * std::sqrt(2.0);
        EXPECT_NEAR(p.value, length, 0.05 * length);
        for (int i = 0; i < L; ++i) {
            const cv::Point2d move = trackPoint(p, i + 1) - trackPoint(p, i);
            EXPECT_NEAR(move.x, kStep, 0.2) << "move " << i << " of record " << p.id;
            EXPECT_NEAR(move.y, kStep, 0.2) << "move " << i << " of record " << p.id;
            EXPECT_NEAR((*p.array)[kTrack + 2 * i], kStep / length, 0.01);
            EXPECT_NEAR((*p.array)[kTrack + 2 * i + 1], kStep / length, 0.01);
        }
        // HOF: the votes go to bin 1 (down right) of every cell.
        EXPECT_GT(sum(p, kHofAt, kHof, 9, 1), 0.9 * sum(p, kHofAt, kHof));
        interiorMbh += mbh;
    }
    EXPECT_GT(interior, 20);
    EXPECT_EQ(background, 0);
    ASSERT_GT(edges, 0);
    EXPECT_LT(interiorMbh / interior, 0.05 * edgeMbh / edges);
}

TEST(TrajectoryDetector, RecordsFollowTheirTrackAndComeSorted) {
    const DetectorOptions options = trajectories(8);
    const FeatureList points = run(options, 22);
    ASSERT_GT(points.size(), 100u);
    EXPECT_EQ(layoutText(trajectoryLayout(options)),
              "track[32] trajectory[30] hog[96] hof[108] mbh[192]");
    const std::vector<cv::Size> sizes = trajectoryScaleSizes({kWidth, kHeight}, 8);
    ASSERT_EQ(sizes.size(), 6u);  // 256x192 down to 64x48; 45x34 fits too, 32x24 not
    std::vector<double> sigma2s;
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        const double side = 32 / (6 * std::pow(2.0, -static_cast<double>(s) / 2));
        sigma2s.push_back(static_cast<float>(side * side));
    }
    using Key = std::tuple<int, double, double, int, int, double, double>;
    Key before{-1, 0, 0, 0, 0, 0, 0};
    for (std::size_t n = 0; n < points.size(); ++n) {
        const FeaturePoint& p = points[n];
        ASSERT_EQ(p.array->size(), static_cast<std::size_t>(kTrack + kShape + kHog + kHof + kMbh));
        EXPECT_EQ(p.id, static_cast<int>(n));
        EXPECT_GE(p.t, L / 2);
        EXPECT_LE(p.t, 21 - L + L / 2);
        EXPECT_EQ(p.temporalVariance, 56.25);
        EXPECT_NE(std::find(sigma2s.begin(), sigma2s.end(), static_cast<float>(p.spatialVariance)),
                  sigma2s.end());
        double x = 0, y = 0, length = 0;
        for (int i = 0; i <= L; ++i) {
            x += trackPoint(p, i).x;
            y += trackPoint(p, i).y;
            if (i > 0) length += cv::norm(trackPoint(p, i) - trackPoint(p, i - 1));
        }
        EXPECT_EQ(p.x, std::lround(x / (L + 1)));
        EXPECT_EQ(p.y, kHeight - std::lround(y / (L + 1)));
        EXPECT_NEAR(p.value, length, 1e-4 * length);
        // Shape: the moves over their sum, which is 1 long.
        double shape = 0;
        for (int i = 0; i < L; ++i)
            shape += std::hypot((*p.array)[kTrack + 2 * i], (*p.array)[kTrack + 2 * i + 1]);
        EXPECT_NEAR(shape, 1.0, 1e-4);
        // Each histogram block unit length (or all zeros).
        for (const auto& [from, count] : {std::pair{kTrack + kShape, kHog},
                                          {kHofAt, kHof},
                                          {kMbhAt, kMbh / 2},
                                          {kMbhAt + kMbh / 2, kMbh / 2}}) {
            double energy = 0;
            for (int i = 0; i < count; ++i) energy += (*p.array)[from + i] * (*p.array)[from + i];
            EXPECT_TRUE(std::abs(energy - 1) < 1e-4 || energy == 0) << energy;
        }
        const cv::Point2d first = trackPoint(p, 0);
        const Key key{p.t,    p.spatialVariance, p.temporalVariance, kHeight - p.y, p.x, first.y,
                      first.x};
        EXPECT_LT(before, key) << "record " << n;
        before = key;
    }
}

TEST(TrajectoryDetector, ShortClipsAndSmallFramesGiveNoTrajectory) {
    for (const int frames : {0, 1, 10, L}) {
        EXPECT_TRUE(run(trajectories(8), frames).empty()) << frames << " frames";
    }
    EXPECT_FALSE(run(trajectories(8), L + 1).empty());
    TrajectoryDetector small({31, 100}, trajectories(8));
    EXPECT_EQ(small.scales(), 0);
    EXPECT_NE(small.notice().find("smaller than the 32-pixel"), std::string::npos);
    FeatureList points;
    for (int t = 0; t < 20; ++t)
        small.addFrame(cv::Mat(100, 31, CV_8UC1, cv::Scalar(t * 10)), points);
    small.finish(points);
    EXPECT_TRUE(points.empty());
}

TEST(TrajectoryDetector, ChosenDescriptorsAndTheWorstCaseMemory) {
    DetectorOptions options = trajectories(2);
    options.hog = options.hof = options.trajectoryShape = false;
    const FeatureList points = run(options, 17);
    ASSERT_FALSE(points.empty());
    EXPECT_EQ(points[0].array->size(), static_cast<std::size_t>(kTrack + kMbh));
    EXPECT_EQ(layoutText(trajectoryLayout(options)), "track[32] mbh[192]");
    // More cells, longer tracks or a larger frame never need less.
    DetectorOptions denser = options;
    denser.trajectoryStride = 2;
    EXPECT_GT(trajectoryMemoryNeed({kWidth, kHeight}, denser),
              trajectoryMemoryNeed({kWidth, kHeight}, options));
    EXPECT_GT(trajectoryMemoryNeed({640, 480}, options), trajectoryMemoryNeed({320, 240}, options));
}

}  // namespace
}  // namespace stview
