#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "detector/descriptors.hpp"
#include "detector/space_time_detector.hpp"
#include "features/features_file.hpp"
#include "tests/support/reference_detector.hpp"

namespace stview {
namespace {

// Random texture, smoothed a little so that maxima are spread out, and drifting so that
// the temporal derivative is not zero.
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

FeatureList streamed(const std::vector<cv::Mat>& video, const DetectorOptions& options, int first) {
    SpaceTimeDetector detector(video[0].size(), options, first);
    FeatureList points;
    for (const cv::Mat& frame : video) {
        cv::Mat bgr;
        cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
        const std::size_t before = points.size();
        detector.addFrame(bgr, points);
        // What is appended is final: never a frame that later calls could still add to.
        for (std::size_t i = before; i < points.size(); ++i)
            EXPECT_LT(points[i].t, first + detector.framesAdded() - 1);
    }
    detector.finish(points);
    return points;
}

struct Case {
    const char* name;
    cv::Size size;
    int frames, first;
    std::vector<double> sigmas, taus;
};

class DetectorMatchesWholeVolume : public ::testing::TestWithParam<Case> {};

TEST_P(DetectorMatchesWholeVolume, SamePointsSameResponse) {
    const Case& c = GetParam();
    DetectorOptions options;
    options.spatialVariances = c.sigmas;
    options.temporalVariances = c.taus;
    options.threshold = -1e30;  // every strict maximum, the weak ones too
    const std::vector<cv::Mat> video = randomVideo(c.size, c.frames, 7u + c.frames);
    const FeatureList expected = reference::detect(video, options, c.first);
    const FeatureList actual = streamed(video, options, c.first);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const FeaturePoint &a = actual[i], &e = expected[i];
        ASSERT_EQ(std::make_tuple(a.id, a.x, a.y, a.t, a.spatialVariance, a.temporalVariance),
                  std::make_tuple(e.id, e.x, e.y, e.t, e.spatialVariance, e.temporalVariance))
            << "point " << i;
        ASSERT_NEAR(a.value, e.value, 1e-5 * std::abs(e.value)) << "point " << i;
    }
    if (c.size.width >= 3 && c.frames >= 3) {
        EXPECT_FALSE(expected.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, DetectorMatchesWholeVolume,
                         ::testing::Values(
                             // The ten default pairs, kernels wider than the frame.
                             Case{"DefaultScales", {28, 22}, 24, 0, {4, 8, 16, 32, 64}, {2, 4}},
                             // Unsorted lists, a range starting mid-video.
                             Case{"MidVideoUnsorted", {40, 30}, 30, 17, {8, 2}, {4, 1.5}},
                             // Fewer frames than the temporal kernels reach.
                             Case{"ShortVideo", {40, 30}, 5, 3, {4}, {2, 4}},
                             Case{"OneFrame", {12, 10}, 1, 0, {4}, {2}},
                             Case{"OneColumn", {1, 16}, 12, 0, {2}, {2}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Descriptors change no point, and each equals the histograms of its box computed from the
// whole video's votes (the last frame taking the flow of the pair before it).
TEST(Detector, StreamedDescriptorsMatchTheWholeVideo) {
    for (int frames : {26}) {
        DetectorOptions options;
        options.spatialVariances = {2, 4};
        options.temporalVariances = {1.5, 3};
        options.threshold = -1e30;
        const std::vector<cv::Mat> video = randomVideo({40, 30}, frames, 5);
        const FeatureList plain = streamed(video, options, 9);
        options.hog = options.hof = true;
        const FeatureList described = streamed(video, options, 9);
        ASSERT_EQ(described.size(), plain.size());
        std::vector<FrameVotes> hog(frames), hof(frames);
        for (int t = 0; t < frames; ++t) {
            cv::Mat f, field;
            video[t].convertTo(f, CV_32F, 1.0 / 255);
            gradientField(f, field);
            fieldVotes(field, false, hog[t]);
            if (frames == 1)
                field = cv::Mat::zeros(f.size(), CV_32FC2);
            else
                flowField(video[std::min(t, frames - 2)], video[std::min(t + 1, frames - 1)],
                          field);
            fieldVotes(field, true, hof[t]);
        }
        for (std::size_t i = 0; i < plain.size(); ++i) {
            const FeaturePoint& p = described[i];
            EXPECT_EQ(
                std::make_tuple(p.id, p.x, p.y, p.t, p.value),
                std::make_tuple(plain[i].id, plain[i].x, plain[i].y, plain[i].t, plain[i].value));
            const DescriptorBox box =
                descriptorBox(p.x, 30 - p.y, p.t, p.spatialVariance, p.temporalVariance);
            std::vector<double> expected;
            appendHistograms(
                box, 9, 9 + frames - 1, [&](int t) -> const FrameVotes& { return hog[t - 9]; },
                false, expected);
            appendHistograms(
                box, 9, 9 + frames - 1, [&](int t) -> const FrameVotes& { return hof[t - 9]; },
                true, expected);
            ASSERT_TRUE(p.array);
            ASSERT_EQ(*p.array, expected) << "point " << i;
        }
    }
}

TEST(Detector, RefusesBadOptionsAndFrames) {
    const cv::Size size(8, 8);
    for (auto change : std::vector<void (*)(DetectorOptions&)>{
             [](DetectorOptions& o) { o.spatialVariances = {}; },
             [](DetectorOptions& o) {
                 o.spatialVariances = {4, 4};
             },
             [](DetectorOptions& o) { o.temporalVariances = {0}; },
             [](DetectorOptions& o) { o.temporalVariances = {-2}; },
             [](DetectorOptions& o) { o.threshold = NAN; },
         }) {
        DetectorOptions options;
        change(options);
        EXPECT_THROW(SpaceTimeDetector(size, options), std::invalid_argument);
    }
    SpaceTimeDetector detector(size, DetectorOptions{});
    FeatureList points;
    EXPECT_THROW(detector.addFrame(cv::Mat(9, 8, CV_8UC3), points), std::invalid_argument);
    EXPECT_THROW(detector.addFrame(cv::Mat(8, 8, CV_32FC1), points), std::invalid_argument);
    EXPECT_EQ(detector.framesAdded(), 0);
}

TEST(FeaturesWriter, ReadsBackExactly) {
    std::mt19937_64 random(3);
    FeatureList points(200);
    for (FeaturePoint& p : points) {
        p.id = static_cast<int>(random());
        p.x = static_cast<int>(random() % 4000) - 10;
        p.y = static_cast<int>(random() % 3000);
        p.t = static_cast<int>(random() >> 33);
        for (double* v : {&p.spatialVariance, &p.temporalVariance, &p.value}) {
            const double r = std::ldexp(static_cast<double>(random() >> 11), -53);
            *v = std::ldexp(r, static_cast<int>(random() % 200) - 100) * (random() % 2 ? 1 : -1);
        }
    }
    points[0].array = std::make_shared<std::vector<double>>(std::vector<double>{0.5, 0.123456});
    std::ostringstream out;
    writeFeatures(out, points);
    EXPECT_NE(out.str().find(" 0.5 0.1235\n"), std::string::npos);
    FeatureParseReport report;
    const FeatureList back = parseFeatures(out.str(), report);
    ASSERT_EQ(back.size(), points.size());
    EXPECT_EQ(report.skippedLines, 0u);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const FeaturePoint &a = back[i], &e = points[i];
        EXPECT_EQ(
            std::make_tuple(a.id, a.x, a.y, a.t, a.spatialVariance, a.temporalVariance, a.value),
            std::make_tuple(e.id, e.x, e.y, e.t, e.spatialVariance, e.temporalVariance, e.value));
    }
}

}  // namespace
}  // namespace stview
