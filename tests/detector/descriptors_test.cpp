#include "detector/descriptors.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace stview {
namespace {

// 8-bit grey frames (at least two), numbered from `first`, with their HOG and HOF votes; the
// last frame takes the flow of the pair before it.
struct Clip {
    int first;
    std::vector<cv::Mat> grey, flow;
    std::vector<FrameVotes> hog, hof;
    Clip(const std::vector<cv::Mat>& grey8, int first = 0) : first(first) {
        const int count = static_cast<int>(grey8.size());
        grey.resize(count), flow.resize(count), hog.resize(count), hof.resize(count);
        for (int i = 0; i < count; ++i) {
            cv::Mat gradient;
            grey8[i].convertTo(grey[i], CV_32F, 1.0 / 255);
            gradientField(grey[i], gradient);
            fieldVotes(gradient, false, hog[i]);
            flowField(grey8[std::min(i, count - 2)], grey8[std::min(i, count - 2) + 1], flow[i]);
            fieldVotes(flow[i], true, hof[i]);
        }
    }
    int last() const { return first + static_cast<int>(grey.size()) - 1; }
    std::vector<double> describe(int x, int r, int t, double s2, double t2, bool isFlow) const {
        std::vector<double> out;
        appendHistograms(
            descriptorBox(x, r, t, s2, t2), first, last(),
            [&](int f) -> const FrameVotes& { return (isFlow ? hof : hog).at(f - first); }, isFlow,
            out);
        return out;
    }
};

// `count` frames of a blurred random texture moving `shift` columns per frame to the right.
std::vector<cv::Mat> texture(cv::Size size, int count, int shift) {
    cv::Mat wide(size.height, size.width + shift * count, CV_8UC1);
    cv::RNG(7).fill(wide, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(wide, wide, cv::Size(0, 0), 1.5);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(wide(cv::Rect(shift * (count - i), 0, size.width, size.height)));
    return frames;
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

TEST(Descriptors, BoxesMatchThePlainComputationAtCornersAndEnds) {
    const Clip clip(texture(cv::Size(24, 20), 6, 1), 10);
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
}

// Each bin summed over the 18 cells.
std::vector<double> binTotals(const std::vector<double>& h) {
    std::vector<double> totals(h.size() / 18, 0.0);
    for (size_t i = 0; i < h.size(); ++i) totals[i % totals.size()] += h[i];
    return totals;
}

TEST(Descriptors, DirectionsOfMotionAndGradientAndAllZeroBlocks) {
    const auto moving = binTotals(Clip(texture({64, 48}, 5, 1)).describe(32, 24, 2, 4, 2, true));
    EXPECT_GT(moving[0], 3 * (moving[1] + moving[2] + moving[3]));
    const auto still = binTotals(Clip(texture({64, 48}, 5, 0)).describe(32, 24, 2, 4, 2, true));
    EXPECT_EQ(still[0] + still[1] + still[2] + still[3], 0.0);

    cv::Mat stripes(40, 40, CV_8UC1);
    for (int c = 0; c < 40; ++c) stripes.col(c).setTo((c / 3) % 2 * 255);  // box [2, 38): 6 periods
    const auto hog = binTotals(Clip({stripes, stripes}).describe(20, 20, 0, 4, 2, false));
    EXPECT_NEAR(hog[0], hog[2], 1e-9);
    EXPECT_GT(hog[0], 0.5);
    EXPECT_EQ(hog[1] + hog[3], 0.0);
    const cv::Mat flat(40, 40, CV_8UC1, cv::Scalar(90));
    EXPECT_EQ(Clip({flat, flat}).describe(0, 0, 0, 1, 1, false), std::vector<double>(72, 0.0));
}

TEST(Descriptors, DirectionBinsAtAndBetweenTheDiagonals) {
    // (dx, dy, bin) on the diagonals, rows growing downward: 45 deg is down, -45 deg right.
    const float tiny = 1e-30f;
    const std::tuple<float, float, int> diagonals[] = {{1, 1, 1},   {1, -1, 0}, {-1, 1, 2},
                                                       {-1, -1, 3}, {0, 0, 0},  {tiny, tiny, 1}};
    for (auto [dx, dy, bin] : diagonals) EXPECT_EQ(directionBin(dx, dy), bin) << dx << "," << dy;
    cv::RNG rng(3);
    for (int i = 0; i < 1000; ++i) {
        const float dx = rng.uniform(-1.f, 1.f), dy = rng.uniform(-1.f, 1.f);
        const double degrees = std::atan2(dy, dx) * 180 / CV_PI + 45;
        EXPECT_EQ(directionBin(dx, dy), int(std::floor(std::fmod(degrees + 360, 360) / 90)));
    }
}

TEST(Descriptors, RefusesBadInput) {
    const Clip clip(texture(cv::Size(8, 8), 2, 1));
    const auto hog = [&](int t) -> const FrameVotes& { return clip.hog.at(t); };
    std::vector<double> out;
    EXPECT_THROW(descriptorBox(0, 0, 0, -1, 1), std::invalid_argument);
    EXPECT_THROW(descriptorBox(0, 0, 0, 1, std::nan("")), std::invalid_argument);
    EXPECT_THROW(descriptorBox(0, 0, std::numeric_limits<int>::min(), 1, 1), std::invalid_argument);
    EXPECT_THROW(appendHistograms({0, 0, 0, 3, 3}, 1, 0, hog, false, out), std::invalid_argument);
    EXPECT_THROW(appendHistograms({0, 0, 0, 0, 3}, 0, 1, hog, false, out), std::invalid_argument);
    EXPECT_THROW(appendHistograms({0, 0, 0, 3, 3}, 0, 1, hog, true, out), std::invalid_argument);
    EXPECT_TRUE(out.empty());
    cv::Mat wrong(4, 4, CV_8UC1, cv::Scalar(0)), field;
    FrameVotes votes;
    EXPECT_THROW(gradientField(wrong, field), std::invalid_argument);
    EXPECT_THROW(fieldVotes(wrong, true, votes), std::invalid_argument);
    EXPECT_THROW(flowField(wrong, clip.grey[0], field), std::invalid_argument);
}

}  // namespace
}  // namespace stview
