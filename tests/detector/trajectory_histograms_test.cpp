#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "detector/trajectory_histograms.hpp"

namespace stview {
namespace {

// The bin formula in double: the angle in degrees, the mathematical modulo, the floor.
int modelBin(double dx, double dy) {
    const double theta = std::atan2(dy, dx) * 180.0 / M_PI;
    double a = std::fmod(theta + 22.5, 360.0);
    if (a < 0) a += 360.0;
    return static_cast<int>(std::floor(a / 45.0)) % 8;
}

TEST(TrajectoryHistograms, DirectionBinIsTheFormulaInDouble) {
    std::vector<std::pair<float, float>> cases;
    for (float x : {0.0f, -0.0f, 1.0f, -1.0f, 1e-30f, -3e38f})
        for (float y : {0.0f, -0.0f, 1.0f, -1.0f, 1e-30f, -3e38f}) cases.push_back({x, y});
    // Each boundary (22.5 deg + k 45 deg) and diagonal at several lengths, with the floats
    // around it.
    for (int k = 0; k < 16; ++k)
        for (double length : {1.0, 1e-3, 300.0}) {
            const double a = (11.25 + 22.5 * (k / 2) + (k % 2 ? 11.25 : 0.0)) * M_PI / 180.0;
            float x = static_cast<float>(length * std::cos(a));
            float y = static_cast<float>(length * std::sin(a));
            for (int step = -2; step <= 2; ++step) {
                cases.push_back({x, y});
                cases.push_back({std::nextafter(x, step * 1e9f), y});
                cases.push_back({x, std::nextafter(y, step * 1e9f)});
            }
        }
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> angle(-M_PI, M_PI), exponent(-20, 20);
    for (int i = 0; i < 200000; ++i) {
        const double a = angle(rng);
        const double r = std::pow(10.0, exponent(rng) / 4);
        cases.push_back({static_cast<float>(r * std::cos(a)), static_cast<float>(r * std::sin(a))});
    }
    for (auto [x, y] : cases) ASSERT_EQ(directionBin(x, y), modelBin(x, y)) << x << ", " << y;
    // The directions the definition names: 0 right, 2 down, 4 left, 6 up (rows down).
    EXPECT_EQ(directionBin(1, 0), 0);
    EXPECT_EQ(directionBin(0, 1), 2);
    EXPECT_EQ(directionBin(-1, 0), 4);
    EXPECT_EQ(directionBin(0, -1), 6);
}

TEST(TrajectoryHistograms, NormaliseL2) {
    std::vector<float> zeros(7, 0.0f);
    normaliseL2(zeros.data(), zeros.size());
    EXPECT_EQ(zeros, std::vector<float>(7, 0.0f));
    std::vector<float> v{3, 0, 4, 0};
    normaliseL2(v.data(), v.size());
    EXPECT_EQ(v, (std::vector<float>{0.6f, 0, 0.8f, 0}));
}

// The four fields' votes per pixel, straight from the definition.
struct Votes {
    std::vector<int> bin[4];
    std::vector<double> weight[4];  // hog, hof, mbhx, mbhy
};

void gradientModel(const cv::Mat& f, std::vector<int>& bin, std::vector<double>& weight) {
    const int w = f.cols, h = f.rows;
    auto d = [](float a, float b, int span) { return span == 2 ? (b - a) * 0.5f : b - a; };
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int l = std::max(c - 1, 0), rt = std::min(c + 1, w - 1);
            const int u = std::max(r - 1, 0), dn = std::min(r + 1, h - 1);
            const float dx = d(f.at<float>(r, l), f.at<float>(r, rt), rt - l);
            const float dy = d(f.at<float>(u, c), f.at<float>(dn, c), dn - u);
            bin.push_back(modelBin(dx, dy));
            weight.push_back(std::hypot(double(dx), double(dy)));
        }
}

Votes modelVotes(const cv::Mat& grey, const cv::Mat& flow) {
    Votes v;
    gradientModel(grey, v.bin[0], v.weight[0]);
    cv::Mat parts[2];
    cv::split(flow, parts);
    gradientModel(parts[0], v.bin[2], v.weight[2]);
    gradientModel(parts[1], v.bin[3], v.weight[3]);
    for (int r = 0; r < flow.rows; ++r)
        for (int c = 0; c < flow.cols; ++c) {
            const cv::Vec2f o = flow.at<cv::Vec2f>(r, c);
            v.bin[1].push_back(std::hypot(double(o[0]), double(o[1])) >= 0.5 ? modelBin(o[0], o[1])
                                                                             : 8);
            v.weight[1].push_back(1.0);
        }
    return v;
}

// Random frames with flat parts (no gradient), flows with still parts, slow parts (below half
// a pixel) and uniform parts (no flow gradient); patches inside, at and beyond every edge and
// corner.
TEST(TrajectoryHistograms, PatchesAreThePerPixelModel) {
    std::mt19937 rng(11);
    for (cv::Size size : {cv::Size(45, 37), cv::Size(32, 33), cv::Size(1, 3), cv::Size(70, 2)}) {
        const int w = size.width, h = size.height;
        cv::Mat grey(size, CV_32FC1), flow(size, CV_32FC2);
        std::uniform_int_distribution<int> level(0, 255);
        std::normal_distribution<float> motion(0.0f, 1.5f);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const bool flat = c < w / 3 && r < h / 2;
                grey.at<float>(r, c) = flat ? 0.5f : level(rng) / 255.0f;
                cv::Vec2f o(motion(rng), motion(rng));
                if (c >= 2 * w / 3) o = r < h / 2 ? cv::Vec2f(0, 0) : cv::Vec2f(1.25f, -0.5f);
                if (r >= h / 2 && c < w / 3) o *= 0.2f;
                flow.at<cv::Vec2f>(r, c) = o;
            }
        const Votes votes = modelVotes(grey, flow);
        const FrameHistograms histograms(grey, flow, {true, true, true});
        std::vector<int> xs{-40,   -17,    -16,    -15,    -1,    0, 1,     15,     16,     17,
                            w / 2, w - 17, w - 16, w - 15, w - 1, w, w + 1, w + 15, w + 16, w + 40};
        std::vector<int> ys{-40,    -16,   -1, 0,      1,      16,    h / 2,
                            h - 16, h - 1, h,  h + 15, h + 16, h + 40};
        for (int cx : xs)
            for (int cy : ys) {
                std::vector<float> got[4] = {std::vector<float>(32, 0.5f), std::vector<float>(36),
                                             std::vector<float>(32), std::vector<float>(32)};
                histograms.addPatch(cx, cy, got[0].data(), got[1].data(), got[2].data(),
                                    got[3].data());
                for (int field = 0; field < 4; ++field) {
                    const int bins = field == 1 ? 9 : 8;
                    std::vector<double> want(4 * bins, field == 0 ? 0.5 : 0.0);
                    for (int y = cy - 16; y < cy + 16; ++y)
                        for (int x = cx - 16; x < cx + 16; ++x) {
                            const int p = std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1);
                            const int cell = (y >= cy) * 2 + (x >= cx);
                            want[cell * bins + votes.bin[field][p]] += votes.weight[field][p];
                        }
                    for (int k = 0; k < 4 * bins; ++k) {
                        // Exact zeros stay exact (flat or still parts add nothing).
                        if (want[k] == (field == 0 ? 0.5 : 0.0))
                            ASSERT_EQ(got[field][k], want[k]);
                        else
                            ASSERT_NEAR(got[field][k], want[k], 1e-5 * want[k] + 1e-6);
                    }
                }
            }
    }
}

TEST(TrajectoryHistograms, RefusesWhatIsNotAFrame) {
    const cv::Mat grey(40, 40, CV_32FC1, cv::Scalar(0.5));
    EXPECT_THROW(FrameHistograms(cv::Mat(), cv::Mat(), {true, false, false}),
                 std::invalid_argument);
    EXPECT_THROW(FrameHistograms(grey, cv::Mat(), {false, true, false}), std::invalid_argument);
    EXPECT_THROW(FrameHistograms(grey, cv::Mat(40, 41, CV_32FC2), {false, false, true}),
                 std::invalid_argument);
    const FrameHistograms hogOnly(grey, cv::Mat(), {true, false, false});
    float out[36] = {};
    EXPECT_THROW(hogOnly.addPatch(0, 0, nullptr, out, nullptr, nullptr), std::invalid_argument);
    EXPECT_EQ(FrameHistograms::bytesFor({40, 40}, {true, true, true}), 56u * 56u * 33u * 4u);
}

}  // namespace
}  // namespace stview
