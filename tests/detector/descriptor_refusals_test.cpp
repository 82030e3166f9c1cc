#include <gtest/gtest.h>

#include <string>

#include "detector/descriptors.hpp"

namespace stview {
namespace {

// Votes for a bin the descriptor does not have are refused with the highest bin it has; a
// first frame after the last and an empty box with their values.
TEST(DescriptorRefusals, EachNamesWhatIsWrong) {
    FrameVotes hog{cv::Mat(6, 6, CV_8UC1, cv::Scalar(1)), cv::Mat(6, 6, CV_32FC1, cv::Scalar(1))};
    FrameVotes hof{cv::Mat(6, 6, CV_8UC1, cv::Scalar(4)), cv::Mat()};
    hog.bins.at<std::uint8_t>(2, 2) = 4;  // HOF's no-motion bin
    hof.bins.at<std::uint8_t>(3, 3) = 5;
    struct Case {
        DescriptorBox box;
        int first, last;
        const FrameVotes* votes;
        bool flow;
        const char* message;
    };
    const Case cases[] = {
        {{0, 0, 0, 6, 3}, 0, 0, &hog, false, "appendHistograms: votes hold a bin above 3"},
        {{0, 0, 0, 6, 3}, 0, 0, &hof, true, "appendHistograms: votes hold a bin above 4"},
        {{0, 0, 0, 3, 3},
         2,
         1,
         &hog,
         false,
         "appendHistograms: first frame 2 is after last frame 1"},
        {{0, 0, 0, 3, 0},
         0,
         0,
         &hog,
         false,
         "appendHistograms: box extents n = 3, m = 0 must be at least 1"}};
    for (const Case& c : cases) {
        std::vector<double> out;
        try {
            appendHistograms(
                c.box, c.first, c.last, [&c](int) -> const FrameVotes& { return *c.votes; }, c.flow,
                out);
            ADD_FAILURE() << c.message << ": not refused";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), std::string(c.message));
        }
    }
}

}  // namespace
}  // namespace stview
