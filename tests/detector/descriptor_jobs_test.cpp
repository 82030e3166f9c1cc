#include <gtest/gtest.h>

#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "detector/descriptor_stream.hpp"
#include "detector/space_time_detector.hpp"

namespace stview {
namespace {

// With one, two or four frames' votes made at once (the flows of successive pairs running
// side by side, finishing in any order), the described points are the same numbers in the same
// order, each out at most one frame later per further job than with one (where the votes are
// made as the detection waits for them): for the corners, whose delay exceeds a box's reach
// ahead, and for the dense grid, whose points are final once their box's last frame is read.
TEST(DescriptorJobs, SameDescriptorsWhateverTheJobsInFlight) {
    const cv::Size size(64, 48);
    cv::Mat texture(size.height + 8, size.width + 24, CV_8UC1);
    cv::theRNG().state = 3;
    cv::randu(texture, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(5, 5), 1.2);
    std::vector<cv::Mat> video;
    for (int t = 0; t < 24; ++t)  // motion that speeds up and turns
        video.push_back(texture(cv::Rect(t * t / 24, t % 7, size.width, size.height)).clone());
    const int threads = cv::getNumThreads();
    for (const DetectorKind kind : {DetectorKind::Harris, DetectorKind::Dense}) {
        DetectorOptions options{{4, 16}, {1, 2}};
        options.hog = options.hof = true;
        options.threshold = -1e30;  // every strict maximum
        options.kind = kind;
        std::vector<FeatureList> runs;
        std::vector<std::vector<int>> outAfter;  // per run, the frames read when each came out
        for (const int jobs : {1, 2, 4}) {
            cv::setNumThreads(jobs);
            ASSERT_EQ(descriptorJobs(), jobs);
            SpaceTimeDetector detector(size, options, 5);
            FeatureList points;
            std::vector<int> after;
            for (const cv::Mat& frame : video) {
                detector.addFrame(frame, points);
                after.resize(points.size(), detector.framesAdded());
            }
            detector.finish(points);
            after.resize(points.size(), detector.framesAdded() + 1);
            runs.push_back(points);
            outAfter.push_back(after);
        }
        cv::setNumThreads(threads);
        ASSERT_GT(runs[0].size(), 8u);
        for (std::size_t r = 1; r < runs.size(); ++r) {
            SCOPED_TRACE(testing::Message() << detectorName(kind) << ", run " << r);
            ASSERT_EQ(runs[r].size(), runs[0].size());
            for (std::size_t i = 0; i < runs[0].size(); ++i) {
                const FeaturePoint &a = runs[r][i], &e = runs[0][i];
                ASSERT_EQ(std::make_tuple(a.id, a.x, a.y, a.t, a.value),
                          std::make_tuple(e.id, e.x, e.y, e.t, e.value));
                ASSERT_TRUE(a.array && e.array);
                ASSERT_EQ(*a.array, *e.array) << "point " << i;
                EXPECT_LE(outAfter[r][i] - outAfter[0][i], r == 1 ? 1 : 3) << "point " << i;
            }
        }
    }
}

}  // namespace
}  // namespace stview
