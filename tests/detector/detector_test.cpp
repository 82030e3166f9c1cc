#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>

#include <opencv2/imgproc.hpp>

#include "detector/descriptors.hpp"
#include "detector/space_time_detector.hpp"
#include "features/features_file.hpp"
#include "tests/support/reference_detector.hpp"

namespace stview {
namespace {

// Grey frames (two or more) from `first` on, with HOG and HOF votes (the last: the flow before).
struct Clip {
    int first;
    std::vector<cv::Mat> grey, flow;
    std::vector<FrameVotes> hog, hof;
    Clip(const std::vector<cv::Mat>& grey8, int first = 0) : first(first) {
        const int count = static_cast<int>(grey8.size());
        grey.resize(count), flow.resize(count), hog.resize(count), hof.resize(count);
        for (int i = 0; i < count; ++i) {
            grey8[i].convertTo(grey[i], CV_32F, 1.0 / 255);
            gradientField(grey[i], flow[i]);
            fieldVotes(flow[i], false, hog[i]);
            flowField(grey8[std::min(i, count - 2)], grey8[std::min(i, count - 2) + 1], flow[i]);
            fieldVotes(flow[i], true, hof[i]);
        }
    }
    int last() const { return first + static_cast<int>(grey.size()) - 1; }
    std::vector<double> describe(int x, int r, int t, double s2, double t2, bool isFlow) const {
        const std::vector<FrameVotes>& votes = isFlow ? hof : hog;
        std::vector<double> out;
        appendHistograms(
            descriptorBox(x, r, t, s2, t2), first, last(),
            [&](int f) -> const FrameVotes& { return votes.at(f - first); }, isFlow, out);
        return out;
    }
};

// Random texture, smoothed a little to spread maxima out, drifting so that d/dt is not zero.
std::vector<cv::Mat> randomVideo(cv::Size size, int frames, unsigned seed) {
    std::mt19937 random(seed);
    cv::Mat canvas(size.height + 4, size.width * 2 + 4, CV_8UC1);
    cv::randu(canvas, 0, 256);
    cv::theRNG().state = seed;
    cv::GaussianBlur(canvas, canvas, cv::Size(3, 3), 0.8);
    std::vector<cv::Mat> video;
    for (int t = 0; t < frames; ++t) {
        const int dx = static_cast<int>(random() % 3), dy = static_cast<int>(random() % 3);
        cv::Mat noise(size, CV_8UC1);
        cv::randu(noise, 0, 40);
        video.push_back(canvas(cv::Rect(t % size.width / 2 + dx, dy, size.width, size.height)) +
                        noise);
    }
    return video;
}

// The plain computation: each box position clamped into the clip on its own, the gradient
// as numpy.gradient takes it (difference over the clamped neighbours), the cell by counting
// the cell bounds at or before the position.
std::vector<double> plainHistograms(const Clip& clip, int x, int r, int t, double s2, double t2,
                                    bool isFlow) {
    const int n = std::max(3, static_cast<int>(std::lround(18 * std::sqrt(s2))));
    const int m = std::max(3, static_cast<int>(std::lround(8 * std::sqrt(t2))));
    const int bins = isFlow ? 5 : 4;
    std::vector<double> h(18 * bins, 0.0);
    for (int j = 0; j < m; ++j)
        for (int yy = 0; yy < n; ++yy)
            for (int xx = 0; xx < n; ++xx) {
                const int f = std::clamp(t - m / 2 + j, clip.first, clip.last()) - clip.first;
                const cv::Mat& g = clip.grey[f];
                const int c = std::clamp(x - n / 2 + xx, 0, g.cols - 1);
                const int y = std::clamp(r - n / 2 + yy, 0, g.rows - 1);
                const int c0 = std::max(c - 1, 0), c1 = std::min(c + 1, g.cols - 1);
                const int y0 = std::max(y - 1, 0), y1 = std::min(y + 1, g.rows - 1);
                cv::Vec2f v((g.at<float>(y, c1) - g.at<float>(y, c0)) / float(c1 - c0),
                            (g.at<float>(y1, c) - g.at<float>(y0, c)) / float(y1 - y0));
                if (isFlow) v = clip.flow[f].at<cv::Vec2f>(y, c);
                const double length = std::hypot(v[0], v[1]);
                const int bin = isFlow && length < 0.5 ? 4 : directionBin(v[0], v[1]);
                const int k = ((m / 2 <= j) * 3 + (n / 3 <= yy) + (2 * n / 3 <= yy)) * 3 +
                              (n / 3 <= xx) + (2 * n / 3 <= xx);
                h[k * bins + bin] += isFlow ? 1.0 : length;
            }
    const double norm = cv::norm(h);
    for (double& v : h) v = norm > 0 ? v / norm : 0;
    return h;
}

TEST(Descriptors, BoxesDirectionsUnitLengthZerosAndBadInput) {
    const Clip clip(randomVideo({24, 20}, 6, 1), 10);
    using Case = std::tuple<int, int, int, double, double>;  // column, row, frame, sigma^2, tau^2
    for (auto [x, r, t, s2, t2] :
         {Case{1, 2, 10, 4, 2}, Case{22, 18, 15, 8, 4}, Case{18, 19, 11, 0.5, 0.3},
          Case{5, 0, 12, 0.5, 0.3}, Case{12, 10, 12, 64, 4}})
        for (bool isFlow : {false, true}) {
            SCOPED_TRACE(testing::Message() << x << "," << r << "," << t << "," << isFlow);
            const std::vector<double> got = clip.describe(x, r, t, s2, t2, isFlow);
            const std::vector<double> want = plainHistograms(clip, x, r, t, s2, t2, isFlow);
            ASSERT_EQ(got.size(), isFlow ? 90u : 72u);
            for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << i;
            EXPECT_NEAR(cv::norm(got), 1.0, 1e-9);
        }
    const DescriptorBox b = descriptorBox(5, 7, 9, 4, 2);  // n = 36, m = lround(11.31) = 11
    EXPECT_EQ(std::vector({b.x0, b.y0, b.t0, b.n, b.m}), std::vector({-13, -11, 4, 36, 11}));
    const auto binTotals = [](const std::vector<double>& h) {  // each bin summed over the cells
        std::vector<double> totals(h.size() / 18, 0.0);
        for (size_t i = 0; i < h.size(); ++i) totals[i % totals.size()] += h[i];
        return totals;
    };
    cv::Mat wide(48, 69, CV_8UC1);  // a blurred random texture, moving one column right per frame
    cv::RNG(7).fill(wide, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(wide, wide, cv::Size(0, 0), 1.5);
    std::vector<cv::Mat> frames, still(5, wide.colRange(0, 64));
    for (int i = 0; i < 5; ++i) frames.push_back(wide.colRange(5 - i, 69 - i));
    const auto moving = binTotals(Clip(frames).describe(32, 24, 2, 4, 2, true));
    EXPECT_GT(moving[0], 3 * (moving[1] + moving[2] + moving[3]));
    const auto standing = binTotals(Clip(still).describe(32, 24, 2, 4, 2, true));
    EXPECT_EQ(standing[0] + standing[1] + standing[2] + standing[3], 0.0);

    const cv::Mat flat(40, 40, CV_8UC1, cv::Scalar(90));
    EXPECT_EQ(Clip({flat, flat}).describe(0, 0, 0, 1, 1, false), std::vector<double>(72, 0.0));

    // (dx, dy, bin) on the diagonals, rows growing downward: 45 deg is down, -45 deg right.
    const std::tuple<float, float, int> diagonals[] = {
        {1, 1, 1}, {1, -1, 0}, {-1, 1, 2}, {-1, -1, 3}, {0, 0, 0}, {1e-30f, 1e-30f, 1}};
    for (auto [dx, dy, bin] : diagonals) EXPECT_EQ(directionBin(dx, dy), bin) << dx << "," << dy;
    cv::RNG rng(3);
    for (int i = 0; i < 1000; ++i) {
        const float dx = rng.uniform(-1.f, 1.f), dy = rng.uniform(-1.f, 1.f);
        EXPECT_EQ(directionBin(dx, dy),
                  int(std::floor(std::fmod(std::atan2(dy, dx) * 180 / CV_PI + 405, 360) / 90)));
    }
    // Bad input is refused.
    for (auto [t, s2, t2] : {std::tuple{0, -1.0, 1.0}, {0, 1.0, NAN}, {INT_MIN, 1.0, 1.0}})
        EXPECT_THROW(descriptorBox(0, 0, t, s2, t2), std::invalid_argument);
    const Clip small(randomVideo({8, 8}, 2, 1));
    const auto hog = [&](int t) -> const FrameVotes& { return small.hog.at(t); };
    std::vector<double> out;
    EXPECT_THROW(appendHistograms({0, 0, 0, 3, 3}, 1, 0, hog, false, out), std::invalid_argument);
    EXPECT_THROW(appendHistograms({0, 0, 0, 0, 3}, 0, 1, hog, false, out), std::invalid_argument);
    EXPECT_THROW(appendHistograms({0, 0, 0, 3, 3}, 0, 1, hog, true, out), std::invalid_argument);
    appendHistograms({0, 0, 0, 3, 3}, 1, 1, hog, false, out);  // a single frame is a range
    EXPECT_EQ(out.size(), 72u);                                // and nothing before
    cv::Mat wrong(4, 4, CV_8UC1, cv::Scalar(0)), field;
    EXPECT_THROW(flowField(wrong, small.grey[0], field), std::invalid_argument);  // size, type
}

// The points of a detector fed the video frame by frame, each checked to be appended once the
// frames it needs are read and not much later: between low and high frames after its own frame,
// [low, high] = wait(point), and, for those only finish() appends, fewer than high.
FeatureList streamed(const std::vector<cv::Mat>& video, const DetectorOptions& options, int first,
                     const std::function<std::pair<int, int>(const FeaturePoint&)>& wait) {
    SpaceTimeDetector detector(video[0].size(), options, first);
    FeatureList points;
    for (const cv::Mat& frame : video) {
        const std::size_t before = points.size();
        detector.addFrame(frame, points);
        const int newest = first + detector.framesAdded() - 1;
        for (std::size_t i = before; i < points.size(); ++i) {
            const auto [low, high] = wait(points[i]);
            const int waited = newest - points[i].t;
            EXPECT_TRUE(low <= waited && waited <= high)
                << "point " << i << " appended " << waited << " frames after its frame";
        }
    }
    const std::size_t before = points.size();
    detector.finish(points);
    for (std::size_t i = before; i < points.size(); ++i)
        EXPECT_LT(first + detector.framesAdded() - 1 - points[i].t, wait(points[i]).second);
    return points;
}

// harris: each point is appended once its frame is final (the response after it, the products
// around that, L one frame on, f around that are known) and at most 3 frames later.
FeatureList streamed(const std::vector<cv::Mat>& video, const DetectorOptions& options, int first) {
    const auto half = [](double v) { return int(makeGaussianKernel(v, 0, 3).size() / 2); };
    int lag = 0;
    for (double tau2 : options.temporalVariances)
        lag = std::max(lag, 2 + half(2 * tau2) + half(tau2));
    return streamed(video, options, first, [lag](const FeaturePoint&) {
        return std::pair{lag, lag + 3};
    });
}

// The streamed detector finds the points the whole-volume search finds, with the same response;
// descriptors change no point, and each equals the histograms of its box computed from the whole
// video's votes (the last frame taking the flow of the pair before it).
TEST(Detector, MatchesTheWholeVolumeDescribesFromTheWholeVideoAndRefusesBadInput) {
    // Frame size, frames, first frame number, spatial and temporal variances.
    const std::tuple<cv::Size, int, int, std::vector<double>, std::vector<double>> cases[] = {
        {{28, 22}, 24, 0, {4, 8, 16, 32, 64}, {2, 4}},  // ten default pairs, kernels past the frame
        {{40, 30}, 30, 17, {8, 2}, {4, 1.5}},  // unsorted lists, a range starting mid-video
        {{40, 30}, 26, 9, {2, 4}, {1.5, 3}},
        {{40, 30}, 5, 3, {4}, {2, 4}},  // fewer frames than the temporal kernels reach
        {{12, 10}, 1, 0, {4}, {2}},     // one frame
        {{1, 16}, 12, 0, {2}, {2}}};    // one column
    for (const auto& [size, frames, first, sigmas, taus] : cases) {
        SCOPED_TRACE(testing::Message() << size << " " << frames << " frames from " << first);
        DetectorOptions options{sigmas, taus};
        options.threshold = -1e30;  // every strict maximum, the weak ones too
        const std::vector<cv::Mat> video = randomVideo(size, frames, 7u + frames);
        const FeatureList expected = reference::detect(video, options, first);
        const FeatureList actual = streamed(video, options, first);
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const FeaturePoint &a = actual[i], &e = expected[i];
            ASSERT_EQ(std::make_tuple(a.id, a.x, a.y, a.t, a.spatialVariance, a.temporalVariance),
                      std::make_tuple(e.id, e.x, e.y, e.t, e.spatialVariance, e.temporalVariance))
                << "point " << i;
            ASSERT_NEAR(a.value, e.value, 1e-5 * std::abs(e.value)) << "point " << i;
        }
        EXPECT_TRUE(size.width < 3 || frames < 3 || !expected.empty());
        if (frames < 2) continue;
        options.hog = options.hof = true;
        const FeatureList described = streamed(video, options, first);
        ASSERT_EQ(described.size(), actual.size());
        const Clip clip(video, first);
        for (std::size_t i = 0; i < actual.size(); ++i) {
            const FeaturePoint &p = described[i], &q = actual[i];
            EXPECT_EQ(std::make_tuple(p.id, p.x, p.y, p.t, p.value),
                      std::make_tuple(q.id, q.x, q.y, q.t, q.value));
            std::vector<double> numbers;  // HOG, then HOF
            for (bool flow : {false, true})
                for (double v : clip.describe(p.x, size.height - p.y, p.t, p.spatialVariance,
                                              p.temporalVariance, flow))
                    numbers.push_back(v);
            ASSERT_TRUE(p.array);
            ASSERT_EQ(*p.array, numbers) << "point " << i;
        }
    }
    // No scales, a scale given twice, variances not above zero, a NaN threshold.
    for (const DetectorOptions& options :
         {DetectorOptions{{}}, {{4, 4}}, {{4}, {0}}, {{4}, {-2}}, {{4}, {2}, 0.0005, NAN}})
        EXPECT_THROW(SpaceTimeDetector({8, 8}, options), std::invalid_argument);
    SpaceTimeDetector detector({8, 8}, DetectorOptions{});
    FeatureList points;
    EXPECT_THROW(detector.addFrame(cv::Mat(9, 8, CV_8UC3), points), std::invalid_argument);
    EXPECT_THROW(detector.addFrame(cv::Mat(8, 8, CV_32FC1), points), std::invalid_argument);
    EXPECT_EQ(detector.framesAdded(), 0);
}

// gabor, hessian and dense through the same pipeline: each point is appended once the frames
// it needs are read (gabor: S one frame past its response's window; hessian: L two frames on;
// dense: its box's last frame) and at most 4 frames after the slowest pair's, and the points do
// not depend on where the range starts. Their values against an independent model are checked
// from Python (tests/python/test_detectors.py).
TEST(Detector, EveryKindStreamsItsPointsWhateverTheFirstFrame) {
    const auto half = [](double v) { return int(makeGaussianKernel(v, 0, 3).size() / 2); };
    const std::vector<cv::Mat> video = randomVideo({40, 30}, 26, 5);
    for (DetectorKind kind : {DetectorKind::Gabor, DetectorKind::Hessian, DetectorKind::Dense}) {
        SCOPED_TRACE(detectorName(kind));
        DetectorOptions options = detectorDefaults(kind);
        options.spatialVariances = {1, 2};
        options.temporalVariances = {1.5, 2};
        if (kind != DetectorKind::Dense) options.threshold = -1;
        const auto lag = [&](double tau2) {
            const int m = descriptorBox(0, 0, 0, 1, tau2).m;
            return kind == DetectorKind::Gabor     ? half(tau2) + 1
                   : kind == DetectorKind::Hessian ? half(tau2) + 2
                                                   : m - 1 - m / 2;
        };
        const int slowest = std::max(lag(1.5), lag(2));
        std::vector<FeatureList> runs;
        for (int first : {0, 17}) {
            FeatureList points = streamed(video, options, first, [&](const FeaturePoint& p) {
                return std::pair{lag(p.temporalVariance), slowest + 4};
            });
            for (FeaturePoint& point : points) point.t -= first;
            runs.push_back(points);
        }
        ASSERT_GT(runs[0].size(), 20u);
        ASSERT_EQ(runs[0].size(), runs[1].size());
        for (std::size_t i = 0; i < runs[0].size(); ++i) {
            const FeaturePoint &a = runs[0][i], &b = runs[1][i];
            ASSERT_EQ(std::make_tuple(a.id, a.x, a.y, a.t, a.spatialVariance, a.value),
                      std::make_tuple(b.id, b.x, b.y, b.t, b.spatialVariance, b.value));
        }
    }
}

TEST(FeaturesWriter, ReadsBackExactly) {
    std::mt19937_64 random(3);
    FeatureList points(200);
    for (FeaturePoint& p : points) {
        p.id = int(random()), p.x = int(random() % 4000) - 10;
        p.y = int(random() % 3000), p.t = int(random() >> 33);
        for (double* v : {&p.spatialVariance, &p.temporalVariance, &p.value})
            *v = std::ldexp(double(static_cast<long long>(random()) >> 11),
                            int(random() % 200) - 153);
    }
    points[0].array = std::make_shared<std::vector<double>>(std::vector<double>{0.5, 0.123456});
    std::ostringstream out;
    writeFeatures(out, points);
    EXPECT_NE(out.str().find(" 0.5 0.1235\n"), std::string::npos);
    FeatureParseReport report;
    const FeatureList back = parseFeatures(out.str(), report);
    ASSERT_EQ(back.size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const FeaturePoint &a = back[i], &e = points[i];
        EXPECT_EQ(
            std::make_tuple(a.id, a.x, a.y, a.t, a.spatialVariance, a.temporalVariance, a.value),
            std::make_tuple(e.id, e.x, e.y, e.t, e.spatialVariance, e.temporalVariance, e.value));
    }
}

}  // namespace
}  // namespace stview
