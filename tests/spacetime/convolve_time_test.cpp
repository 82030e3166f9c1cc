#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "spacetime/frame_buffer.hpp"
#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using test::pattern;

// Four slots after seven adds numbered 0 .. 6: slots 0..3 hold frames 4, 5, 6, 3, head 2.
class Convolve : public testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 7; ++i) {
            frames.push_back(pattern(3, 4, 1000.0f * i));
            buffer.AddFrame(frames.back());
        }
    }
    cv::Mat byAge(int age) const { return frames[6 - age]; }
    FrameBuffer buffer{4};
    std::vector<cv::Mat> frames;
    cv::Mat out;
};

TEST_F(Convolve, WeightsFollowAgeAndTheCentreLiesInTheWindow) {
    EXPECT_EQ(buffer.ConvolveTime(out, {0.25, 0.5, 0.25}), 5);
    ASSERT_EQ(out.size(), cv::Size(4, 3));
    ASSERT_EQ(out.type(), CV_32FC1);
    const cv::Mat expected = 0.25 * frames[6] + 0.5 * frames[5] + 0.25 * frames[4];
    EXPECT_LE(cv::norm(out, expected, cv::NORM_INF), 1e-3);
}

TEST_F(Convolve, KernelLengthCases) {
    struct Case {
        std::vector<double> kernel;
        int centre;
        cv::Mat expected;
    };
    const cv::Mat zero = cv::Mat::zeros(3, 4, CV_32FC1);
    const std::vector<Case> cases = {
        {{1.0}, 6, byAge(0)},
        {{}, 3, zero},
        {{0, 0, 0, 1}, 5, byAge(3)},
        {{0, 2}, 6, 2 * byAge(1)},
        {{0, 0, 0, 1, 1e9, 1e9, 1e9}, 3, byAge(3)},
        {std::vector<double>(10, 0.0), 6, zero},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kernel.size());
        EXPECT_EQ(buffer.ConvolveTime(out, c.kernel), c.centre);
        EXPECT_LE(cv::norm(out, c.expected, cv::NORM_INF), 1e-3);
    }
}

TEST_F(Convolve, OutputOfAnyShapeWithTheRightCountIsWrittenInPlace) {
    cv::Mat flat(1, 12, CV_32FC1, cv::Scalar(-1));
    const uchar* data = flat.data;
    buffer.ConvolveTime(flat, {1.0});
    EXPECT_EQ(flat.data, data);
    EXPECT_EQ(flat.size(), cv::Size(12, 1));
    EXPECT_EQ(flat.at<float>(0, 5), byAge(0).at<float>(1, 1));

    cv::Mat wrong(3, 4, CV_64FC1);
    buffer.ConvolveTime(wrong, {1.0});
    EXPECT_EQ(wrong.type(), CV_32FC1);

    cv::Mat canvas(5, 6, CV_32FC1, cv::Scalar(-1));
    cv::Mat roi = canvas(cv::Rect(1, 1, 4, 3));
    buffer.ConvolveTime(roi, {1.0});
    EXPECT_EQ(roi.data, canvas.ptr(1) + sizeof(float));
    EXPECT_EQ(cv::norm(roi, byAge(0), cv::NORM_INF), 0.0);
    EXPECT_EQ(canvas.at<float>(1, 5), -1.0f);
}

TEST_F(Convolve, NonFiniteValuesPropagateAndTheRingKeepsItsLabels) {
    FrameBuffer small(2);
    cv::Mat frame = pattern(2, 2, 0);
    frame.at<float>(0, 1) = std::numeric_limits<float>::quiet_NaN();
    frame.at<float>(1, 0) = std::numeric_limits<float>::infinity();
    small.AddFrameNumbered(frame, 40);
    small.AddFrameNumbered(pattern(2, 2, 1), 41);
    EXPECT_EQ(small.ConvolveTime(out, {0.5, 0.5}), 41);
    EXPECT_TRUE(std::isnan(out.at<float>(0, 1)));
    EXPECT_TRUE(std::isinf(out.at<float>(1, 0)));
    EXPECT_FLOAT_EQ(out.at<float>(0, 0), 0.5f);
    EXPECT_EQ(test::labels(small.Ring()), (std::vector<int>{40, 41}));
    EXPECT_EQ(small.Ring().Head(), 1);
}

TEST(ConvolveProperty, EqualsAPlainPerPixelWeightedSum) {
    std::mt19937 rng(20240601);
    std::uniform_real_distribution<float> pixel(-50.0f, 50.0f);
    std::uniform_real_distribution<double> weight(-1.0, 1.0);
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 1 + trial % 6, rows = 1 + trial % 5, cols = 1 + (trial * 7) % 9;
        FrameBuffer buffer(n);
        std::vector<cv::Mat> added;
        const int adds = n + trial % 5;
        for (int i = 0; i < adds; ++i) {
            cv::Mat frame(rows, cols, CV_32FC1);
            for (auto it = frame.begin<float>(); it != frame.end<float>(); ++it) *it = pixel(rng);
            added.push_back(frame);
            buffer.AddFrameNumbered(frame, 3 * i - 7);
        }
        std::vector<double> kernel(static_cast<std::size_t>(trial % (n + 3)));
        for (double& k : kernel) k = weight(rng);
        cv::Mat out;
        const int centre = buffer.ConvolveTime(out, kernel);

        const int e = static_cast<int>(std::ceil(kernel.size() * 0.5)) - 1;
        const int centreAge = ((e % n) + n) % n;
        EXPECT_EQ(centre, 3 * (adds - 1 - centreAge) - 7) << trial;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                double sum = 0.0, magnitude = 0.0;
                for (int k = 0; k < n && k < static_cast<int>(kernel.size()); ++k) {
                    const double term =
                        static_cast<float>(kernel[static_cast<std::size_t>(k)]) *
                        double(added[static_cast<std::size_t>(adds - 1 - k)].at<float>(r, c));
                    sum += term;
                    magnitude += std::abs(term);
                }
                ASSERT_NEAR(out.at<float>(r, c), sum, 1e-5 * magnitude + 1e-6) << trial;
            }
    }
}

}  // namespace
}  // namespace stview
