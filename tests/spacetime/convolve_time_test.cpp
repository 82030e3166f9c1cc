#include <algorithm>
#include <cmath>
#include <tuple>

#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using test::pattern;

// Four slots after seven adds numbered 0 .. 6: slots 0..3 hold frames 4, 5, 6, 3, head 2.
class Convolve : public testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 7; ++i) buffer.AddFrame(pattern(3, 4, 1000.0f * i));
    }
    static cv::Mat byAge(int age) { return pattern(3, 4, 1000.0f * (6 - age)); }
    FrameBuffer buffer{4};
};

// Kernels of every length on one buffer: weights follow age, the centre lies in the window. Each
// is written into a new matrix, in place into a continuous one or an ROI of the right count, and
// into a fresh one for a wrong type.
TEST_F(Convolve, KernelCases) {
    const std::vector<std::tuple<std::vector<double>, int, cv::Mat>> cases = {
        {{0.25, 0.5, 0.25}, 5, 0.25 * byAge(0) + 0.5 * byAge(1) + 0.25 * byAge(2)},
        {{1.0}, 6, byAge(0)},
        {{}, 3, 0 * byAge(0)},
        {{0, 0, 0, 1}, 5, byAge(3)},
        {{0, 0, 0, 1, 1e9, 1e9, 1e9}, 3, byAge(3)},
    };
    for (const auto& [kernel, centre, expected] : cases) {
        SCOPED_TRACE(kernel.size());
        cv::Mat canvas(5, 6, CV_32FC1, cv::Scalar(-1));
        for (cv::Mat out : {cv::Mat(), cv::Mat(1, 12, CV_32FC1), canvas(cv::Rect(1, 1, 4, 3)),
                            cv::Mat(3, 4, CV_64FC1)}) {
            const uchar* kept = out.type() == CV_32FC1 ? out.data : nullptr;
            EXPECT_EQ(buffer.ConvolveTime(out, kernel), centre);
            EXPECT_TRUE(!kept || out.data == kept);
            EXPECT_LE(test::diff(out.reshape(1, 3), expected), 1e-3);  // also checks the type
        }
        EXPECT_EQ(cv::countNonZero(canvas == -1), 30 - 12);
    }
}

TEST(ConvolveTime, NonFiniteValuesPropagate) {
    FrameBuffer buffer(2);
    const cv::Mat frame = (cv::Mat_<float>(1, 2) << std::nanf(""), HUGE_VALF);
    buffer.AddFrame(frame);
    buffer.AddFrame(cv::Mat::zeros(1, 2, CV_32FC1));
    cv::Mat out;
    buffer.ConvolveTime(out, {0.5, 0.5});
    EXPECT_TRUE(std::isnan(out.at<float>(0)) && std::isinf(out.at<float>(1)));
}

TEST(ConvolveProperty, EqualsAPlainPerPixelWeightedSum) {
    cv::RNG rng(20240601);
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 1 + trial % 6, rows = 1 + trial % 5, cols = 1 + (trial * 7) % 9;
        const int adds = n + trial % 5;
        FrameBuffer buffer(n);
        std::vector<cv::Mat> added(adds);
        for (cv::Mat& frame : added) {
            frame.create(rows, cols, CV_32FC1);
            rng.fill(frame, cv::RNG::UNIFORM, -50.0f, 50.0f);
            buffer.AddFrame(frame);
        }
        std::vector<double> kernel(trial % (n + 3));
        for (double& k : kernel) k = rng.uniform(-1.0, 1.0);
        cv::Mat out;
        buffer.ConvolveTime(out, kernel);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                double sum = 0.0;  // kernel entries rounded to float, as documented
                for (int k = 0; k < std::min<int>(n, kernel.size()); ++k)
                    sum += double(float(kernel[k])) * added[adds - 1 - k].at<float>(r, c);
                ASSERT_NEAR(out.at<float>(r, c), sum, 1e-3) << trial;
            }
    }
}

}  // namespace
}  // namespace stview
