#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
using Point = std::tuple<int, int, int, double>;  // x, y, t, value

std::vector<Point> found(FrameBuffer& buffer, bool full) {
    FeatureList points;
    buffer.FindLocalMaxima(points, full);
    std::vector<Point> out;
    for (const FeaturePoint& p : points) out.emplace_back(p.x, p.y, p.t, p.value);
    return out;
}

// Frames oldest first, numbered from 7 on; every frame is rows x cols of background 1.
struct Volume {
    Volume(int frames, int rows, int cols) : data(frames, cv::Mat(rows, cols, CV_32FC1, 1.0f)) {
        for (cv::Mat& m : data) m = m.clone();
    }
    float& at(int frame, int row, int col) {
        return data[static_cast<std::size_t>(frame)].at<float>(row, col);
    }
    std::vector<cv::Mat> data;
};

void load(FrameBuffer& b, const std::vector<cv::Mat>& frames) {
    for (std::size_t i = 0; i < frames.size(); ++i)
        b.AddFrameNumbered(frames[i], 7 + static_cast<int>(i));
}

TEST(LocalMaxima, ThreeByThreeByThreeExaminesOnePosition) {
    Volume v(3, 3, 3);
    v.at(1, 1, 1) = 5.0f;
    FrameBuffer b(3);
    load(b, v.data);
    FeatureList points(1);
    points[0].x = 99;
    b.FindLocalMaxima(points, true);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].x, 99);
    const FeaturePoint& p = points[1];
    EXPECT_EQ(std::make_tuple(p.x, p.y, p.t, p.value), std::make_tuple(1, 1, 8, 5.0));
    EXPECT_TRUE(p.flag);
    EXPECT_EQ(p.spatialVariance, 0.0);
    EXPECT_EQ(p.temporalVariance, 0.0);
    EXPECT_TRUE(p.label.empty());
    EXPECT_EQ(found(b, false), (std::vector<Point>{{1, 1, 8, 5.0}}));
}

TEST(LocalMaxima, PlateausNaNsAndNeighbourhoodChoice) {
    struct Case {
        const char* name;
        std::vector<std::tuple<int, int, int, float>> set;  // frame, row, col, value
        bool full26, full10;
    };
    const std::vector<Case> cases = {
        {"single peak", {{1, 1, 1, 5}}, true, true},
        {"plateau with a same-frame neighbour", {{1, 1, 1, 5}, {1, 0, 2, 5}}, false, false},
        {"plateau with the older frame", {{1, 1, 1, 5}, {0, 1, 1, 5}}, false, false},
        {"NaN centre", {{1, 1, 1, kNaN}}, false, false},
        {"NaN neighbour", {{1, 1, 1, 5}, {1, 2, 1, kNaN}}, false, false},
        {"NaN newer frame", {{1, 1, 1, 5}, {2, 1, 1, kNaN}}, false, false},
        {"larger space-time diagonal", {{1, 1, 1, 5}, {2, 0, 2, 6}}, false, true},
        {"larger older diagonal", {{1, 1, 1, 5}, {0, 2, 1, 6}}, false, true},
        {"NaN diagonal", {{1, 1, 1, 5}, {0, 0, 0, kNaN}}, false, true},
        {"negative peak on a lower background", {{1, 1, 1, -3}}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Volume v(3, 3, 3);
        if (std::string(c.name).find("background") != std::string::npos)
            for (cv::Mat& m : v.data) m.setTo(-4.0f);
        for (const auto& [f, r, col, value] : c.set) v.at(f, r, col) = value;
        FrameBuffer b(3);
        load(b, v.data);
        EXPECT_EQ(found(b, true).size(), c.full26 ? 1u : 0u);
        EXPECT_EQ(found(b, false).size(), c.full10 ? 1u : 0u);
    }
}

TEST(LocalMaxima, BordersAndEndFramesAreNeverCentresAndOrderIsAgeRowColumn) {
    Volume v(5, 6, 7);
    for (int f : {0, 4}) v.at(f, 3, 3) = 9;  // newest and oldest frame
    for (auto [r, c] : {std::pair{0, 3}, {5, 3}, {3, 0}, {3, 6}}) v.at(2, r, c) = 9;
    v.at(1, 4, 4) = 3;  // oldest-but-one frame: reported last
    v.at(3, 2, 4) = 4;  // newest-but-one frame: reported first
    v.at(3, 4, 1) = 2;
    v.at(3, 2, 2) = 2;  // same row as (2, 4), smaller column
    v.at(2, 2, 3) = 5;
    FrameBuffer b(5);
    load(b, v.data);
    const std::vector<Point> expected = {
        {2, 2, 10, 2}, {4, 2, 10, 4}, {1, 4, 10, 2}, {3, 2, 9, 5}, {4, 4, 8, 3}};
    EXPECT_EQ(found(b, false), expected);
    EXPECT_EQ(found(b, false), expected) << "calls keep no memory";
}

TEST(LocalMaxima, TooFewSlotsOrTooSmallFramesFindNothing) {
    for (auto [n, rows, cols] : {std::tuple{2, 5, 5}, {1, 5, 5}, {4, 2, 5}, {4, 5, 2}}) {
        Volume v(n, rows, cols);
        v.at(n - 1, rows / 2, cols / 2) = 9;
        FrameBuffer b(n);
        load(b, v.data);
        EXPECT_TRUE(found(b, true).empty()) << n << rows << cols;
    }
}

TEST(LocalMaxima, ModifiedTablesAreRefused) {
    Volume v(3, 3, 3);
    FrameBuffer b(3);
    load(b, v.data);
    b.Neighbours10[9] = {1, 0, 0};
    FeatureList points;
    EXPECT_THROW(b.FindLocalMaxima(points, false), std::logic_error);
}

// Strict maximum by explicit loops over the cube, frames indexed by age.
std::vector<Point> bruteForce(const std::vector<cv::Mat>& byAge, const std::vector<int>& label,
                              bool full) {
    std::vector<Point> out;
    const int n = static_cast<int>(byAge.size()), rows = byAge[0].rows, cols = byAge[0].cols;
    for (int a = 1; a + 1 < n; ++a)
        for (int r = 1; r + 1 < rows; ++r)
            for (int c = 1; c + 1 < cols; ++c) {
                const float v = byAge[a].at<float>(r, c);
                bool strict = !std::isnan(v);
                for (int dt = -1; dt <= 1; ++dt)
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const bool skip = (dt == 0 && dy == 0 && dx == 0) ||
                                              (!full && dt != 0 && (dy != 0 || dx != 0));
                            if (!skip && !(byAge[a + dt].at<float>(r + dy, c + dx) < v))
                                strict = false;
                        }
                if (strict) out.emplace_back(c, r, label[a], v);
            }
    return out;
}

// Adds `adds` random frames (numbered from 100) to a buffer of n slots and compares both
// neighbourhoods with the brute-force search; returns the number of maxima expected.
std::size_t compareWithBruteForce(int n, int rows, int cols, int adds, std::mt19937& rng,
                                  bool infinities, const std::string& trial) {
    std::uniform_int_distribution<int> level(0, 5);
    std::uniform_int_distribution<int> percent(0, 99);
    const float kInf = std::numeric_limits<float>::infinity();
    std::vector<cv::Mat> added;
    FrameBuffer b(n);
    for (int i = 0; i < adds; ++i) {
        cv::Mat frame(rows, cols, CV_32FC1);
        for (auto it = frame.begin<float>(); it != frame.end<float>(); ++it) {
            const int p = percent(rng);
            *it = p < 3                 ? kNaN
                  : infinities && p < 5 ? kInf
                  : infinities && p < 7 ? -kInf
                  : infinities && p < 9 ? -0.0f
                                        : static_cast<float>(level(rng));
        }
        added.push_back(frame);
        b.AddFrameNumbered(frame, 100 + i);
    }
    std::vector<cv::Mat> byAge;
    std::vector<int> label;
    for (int a = 0; a < n; ++a) {
        byAge.push_back(added[static_cast<std::size_t>(adds - 1 - a)]);
        label.push_back(100 + adds - 1 - a);
    }
    std::size_t total = 0;
    for (bool full : {true, false}) {
        const std::vector<Point> expected = bruteForce(byAge, label, full);
        total += expected.size();
        EXPECT_EQ(found(b, full), expected) << trial << " full " << full;
        EXPECT_EQ(found(b, full), expected) << trial << " full " << full << ", second call";
    }
    return total;
}

TEST(LocalMaximaProperty, EqualsABruteForceStrictMaximumSearch) {
    std::mt19937 rng(7);
    std::size_t total = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int n = 3 + trial % 4, rows = 3 + trial % 6, cols = 3 + (trial * 5) % 11;
        total += compareWithBruteForce(n, rows, cols, n + trial % 3, rng, false,
                                       "trial " + std::to_string(trial));
    }
    EXPECT_GT(total, 50u);
}

// Rows long enough for the vectorised row loops and their remainders (widths around multiples
// of 8 and 32), the mark kernels' blocks of 8 centres (fewer than 8, exactly 8 and 9, where the
// last block overlaps the one before) and their 64-centre mask words (64, 65 and 66 centres),
// values with infinities, signed zeros, NaNs and ties.
TEST(LocalMaximaProperty, WideRowsWithInfinitiesEqualTheBruteForceSearch) {
    std::mt19937 rng(11);
    std::size_t total = 0;
    const int widths[] = {3, 9, 10, 11, 31, 32, 33, 39, 40, 41, 64, 65, 66, 67, 68, 71, 97};
    const int kWidths = static_cast<int>(std::size(widths));
    for (int trial = 0; trial < 2 * kWidths; ++trial) {
        const int n = 3 + trial % 3, rows = 3 + (trial * 7) % 9;
        const int cols = widths[trial % kWidths];
        total += compareWithBruteForce(n, rows, cols, n + trial % 4, rng, true,
                                       "wide trial " + std::to_string(trial));
    }
    EXPECT_GT(total, 100u);
}

}  // namespace
}  // namespace stview
