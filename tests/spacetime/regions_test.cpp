#include <stdexcept>
#include <string>

#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using D = std::vector<double>;

D elements(const cv::Mat& m) { return m.empty() ? D() : D(m.begin<double>(), m.end<double>()); }

// GetLocalRegion's lines: the ring's, the centre frame's, one per frame given as {frame, slot}.
std::string lines(int centre, const std::vector<std::pair<int, int>>& frames) {
    std::string s =
        "D: 10\t11\t12\t\nS: 2\t1\t0\t\nGetLocalRegion > t_orig=" + std::to_string(centre) + "\n";
    for (auto [f, slot] : frames)
        s += "GetLocalRegion > t=" + std::to_string(f) + "; buffind=" + std::to_string(slot) + "\n";
    return s;
}

// 6 x 6 frames in slots 0, 1, 2 labelled 10, 11, 12; value 100 * slot + 10 * row + column.
class Regions : public testing::Test {
  protected:
    void SetUp() override {
        for (int s = 0; s < 3; ++s)
            buffer.AddFrameNumbered(test::pattern(6, 6, 100.0f * s), 10 + s);
    }

    // GetLocalRegion's standard output, followed by "refused" when it throws std::out_of_range.
    std::string local(int row, int column, int frame, int rows, int columns, int frames) {
        testing::internal::CaptureStdout();
        std::string refused;
        try {
            buffer.GetLocalRegion(row, column, frame, rows, columns, frames, out);
        } catch (const std::out_of_range&) {
            refused = "refused";
        }
        return testing::internal::GetCapturedStdout() + refused;
    }

    FrameBuffer buffer{3};
    cv::Mat out;
};

// Columns fastest, then rows, then frames; clamped to the image and the stored frames; a larger
// matrix is kept and written from its start only.
TEST_F(Regions, GetRegion) {
    const std::vector<std::pair<std::vector<int>, D>> cases = {
        {{0, 1, 11, 2, 5, 12},
         {110, 111, 112, 120, 121, 122, 130, 131, 132, 140, 141, 142, 150, 151, 152,
          210, 211, 212, 220, 221, 222, 230, 231, 232, 240, 241, 242, 250, 251, 252}},
        {{-3, 7, 20, -1, 7, 21}, D(6, 250)},
        {{4, 0, 5, 9, 0, 5}, {4, 5, 5, 5, 5, 5}},
        {{1, 2, 10, 3, 2, 11}, {21, 22, 23, 121, 122, 123}},
        {{1, 2, 10, 0, 2, 11}, {}},
    };
    for (auto [box, expected] : cases) {
        cv::Mat caller(1, 32, CV_64FC1, cv::Scalar(-1));
        buffer.GetRegion(box[0], box[1], box[2], box[3], box[4], box[5], caller);
        expected.resize(32, -1);
        EXPECT_EQ(elements(caller), expected) << box[0];
    }
    EXPECT_THROW(buffer.GetRegion(1, 2, 10, -1, 2, 11, out), std::length_error);
}

TEST(RegionsRing, GetRegionUsesTheLowestSlotAndRefusesAGap) {
    FrameBuffer buffer(4);  // slots labelled 10, 12, 13, 10; slot 3 still zero
    for (int f : {10, 12, 13}) buffer.AddFrameNumbered(cv::Mat(2, 2, CV_32FC1, cv::Scalar(f)), f);
    cv::Mat out;
    buffer.GetRegion(0, 0, 10, 0, 0, 10, out);  // creates a 1 x 1 matrix
    EXPECT_THROW(buffer.GetRegion(0, 0, 10, 1, 0, 12, out), std::out_of_range);  // no 11
    EXPECT_EQ(elements(out), D{10});
}

// Rows fastest, then columns, then frames, each frame reported; empty boxes only print and
// boxes leaving the storage are refused after printing.
TEST_F(Regions, GetLocalRegion) {
    EXPECT_EQ(local(3, 3, 11, 2, 5, 2), lines(11, {{10, 0}, {11, 1}}));
    EXPECT_EQ(elements(out), (D{21,  31,  22,  32,  23,  33,  24,  34,  25,  35,
                                121, 131, 122, 132, 123, 133, 124, 134, 125, 135}));
    ASSERT_EQ(local(3, 3, 11, 6, 6, 3), lines(11, {{10, 0}, {11, 1}, {12, 2}}));  // everything
    EXPECT_EQ(out.at<double>(0), 0.0);
    EXPECT_EQ(out.at<double>(107), 255.0);

    out = cv::Mat(1, 3, CV_64FC1, cv::Scalar(-1));
    EXPECT_EQ(local(3, 3, 11, 2, 2, 0), lines(11, {}));
    EXPECT_EQ(local(3, 3, 12, 0, 2, 1), lines(12, {{12, 2}}));
    EXPECT_EQ(local(3, 3, 20, 2, 0, 1), lines(20, {{20, -1}}));
    EXPECT_EQ(local(1, 3, 11, 4, 1, 1), lines(11, {{11, 1}}) + "refused");  // rows -1 .. 2
    EXPECT_EQ(local(3, 5, 11, 1, 3, 1), lines(11, {{11, 1}}) + "refused");  // column 6
    EXPECT_EQ(local(5, 3, 11, 3, 1, 1), lines(11, {{11, 1}}) + "refused");  // row 6
    EXPECT_EQ(local(3, 3, 13, 1, 1, 2), lines(13, {{12, 2}, {13, -1}}) + "refused");
    EXPECT_EQ(elements(out), D(3, -1));
}

}  // namespace
}  // namespace stview
