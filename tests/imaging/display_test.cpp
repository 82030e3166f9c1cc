#include "imaging/image_grid.hpp"
#include "imaging/image_wrappers.hpp"

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/highgui.hpp>

// Read by the leak checker of sanitized builds: Qt's font set-up keeps fontconfig
// allocations until exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace stview {
namespace {

// Windows go to Qt's offscreen platform, so no display is needed.
class Display : public testing::Test {
  protected:
    static void SetUpTestSuite() { setenv("QT_QPA_PLATFORM", "offscreen", 1); }
    static void TearDownTestSuite() { cv::destroyAllWindows(); }
};

TEST_F(Display, ShowNormalizedStretchesInPlaceLikeCvNormalize) {
    cv::Mat image(12, 9, CV_32FC1);
    cv::RNG(3).fill(image, cv::RNG::UNIFORM, 10.0, 20.0);
    cv::Mat expected = image.clone();
    IplImage header = cvIplImage(expected);
    cvNormalize(&header, &header, 1.0, 0.0, CV_MINMAX, nullptr);

    const float* data = image.ptr<float>();
    showNormalized("stview normalized", image);
    EXPECT_EQ(image.ptr<float>(), data);
    EXPECT_EQ(cv::norm(image, expected, cv::NORM_INF), 0.0);
}

std::string printedBy(const std::vector<cv::Mat>& images) {
    testing::internal::CaptureStdout();
    showImageGrid("stview grid", images);
    return testing::internal::GetCapturedStdout();
}

TEST_F(Display, ShowImageGridMessages) {
    const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(10, 20, 30));
    EXPECT_EQ(printedBy({}), "Number of arguments too small....\n");
    EXPECT_EQ(printedBy(std::vector<cv::Mat>(13, image)), "Number of arguments too large....\n");
    EXPECT_EQ(printedBy({image, image, cv::Mat(), image}), "Invalid arguments");
    EXPECT_EQ(printedBy({image, image, image}), "");
    EXPECT_EQ(printedBy({cv::Mat(5, 7, CV_32FC1, cv::Scalar(0.25))}), "");
    EXPECT_THROW(showImageGrid("stview grid", {cv::Mat()}), cv::Exception);
}

}  // namespace
}  // namespace stview
