#include <climits>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "spacetime/frame_buffer.hpp"
#include "tests/support/brute_force_maxima.hpp"

namespace stview {
namespace {

using V = std::vector<int>;
using D = std::vector<double>;

// rows x cols CV_32FC1 image with value base + 10 * row + column.
cv::Mat pattern(int rows, int cols, float base) {
    cv::Mat image(rows, cols, CV_32FC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) image.at<float>(r, c) = base + 10.0f * r + c;
    return image;
}

V labels(const FrameRing& ring) {
    V out;
    for (int s = 0; s < ring.Size(); ++s) out.push_back(ring.FrameAt(s));
    return out;
}

cv::Mat atSlot(const FrameBuffer& buffer, int slot) {
    cv::Mat out;
    EXPECT_EQ(buffer.GetFrameAtSlot(slot, out), 0) << "slot " << slot;
    return out;
}

D elements(const cv::Mat& m) { return m.empty() ? D() : D(m.begin<double>(), m.end<double>()); }

TEST(FrameRing, PushesWrapAgesCountBackFromTheHeadAndAnEmptyRingRefuses) {
    for (const auto& [n, value, pushes, frames, ages] : std::vector<std::tuple<int, int, V, V, V>>{
             {4, 7, {}, {7, 7, 7, 7}, {0, 3, 2, 1}},
             {5, 0, {1, 2, 3, 4, 5, 6}, {5, 6, 2, 3, 4}, {1, 0, 4, 3, 2}},
             {1, 3, {4, 5}, {5}, {0}}}) {
        FrameRing ring;
        ring.Init(n, value);
        for (int f : pushes) ring.Push(f);
        EXPECT_EQ(labels(ring), frames) << n;
        EXPECT_EQ(ring.UpdateAges(), ages) << n;
    }
    FrameRing ring;
    EXPECT_THROW(ring.Push(1), std::logic_error);
    EXPECT_THROW(ring.CentreFrame(1), std::logic_error);
    EXPECT_THROW(ring.FrameAt(0), std::out_of_range);
    EXPECT_THROW(ring.Init(-1, 0), std::length_error);
    ring.Init(2, 0);
    EXPECT_THROW(ring.Init(2, 0), std::logic_error);
}

// Whole cubes without the centre in (dt, dy, dx) order, or the own frame's square followed by
// the temporal offsets, from both constructors.
TEST(NeighbourTables, EqualPlainEnumerations) {
    const auto table = [](const auto& entries) {
        return std::vector(entries.begin(), entries.end());
    };
    const auto model = [](int radius, bool cube, V tail) {
        std::vector<SpaceTimeOffset> t;
        for (int dt = -radius; dt <= radius; ++dt)
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dx = -radius; dx <= radius; ++dx)
                    if ((dt != 0 || dy != 0 || dx != 0) && (cube || dt == 0))
                        t.push_back({dt, dy, dx});
        for (int dt : tail) t.push_back({dt, 0, 0});
        return t;
    };
    const FrameBuffer plain, sized(5);
    for (const FrameBuffer* b : {&plain, &sized}) {
        EXPECT_EQ(table(b->Neighbours26), model(1, true, {}));
        EXPECT_EQ(table(b->Neighbours10), model(1, false, {1, -1}));
        EXPECT_EQ(table(b->Neighbours124), model(2, true, {}));
        EXPECT_EQ(table(b->Neighbours28), model(2, false, {-2, -1, 1, 2}));
    }
    FrameBuffer buffer(3);  // the maximum search refuses changed tables
    for (int i = 0; i < 3; ++i) buffer.AddFrame(pattern(3, 3, 0));
    buffer.Neighbours10[9] = {1, 0, 0};
    FeatureList found;
    EXPECT_THROW(buffer.FindLocalMaxima(found, false), std::logic_error);
}

TEST(FrameBuffer, NumbersSlotsAndNoAutomaticNumberAfterTheLargestInt) {
    FrameBuffer buffer(4);  // keeps the first frame in slot 0, the others start zeroed
    for (int i = 1; i <= 3; ++i) buffer.AddFrameNumbered(pattern(2, 2, float(i)), 100 * i);
    EXPECT_EQ(labels(buffer.Ring()), (V{100, 200, 300, 100}));
    cv::Mat out, untouched = pattern(2, 2, -1.0f);
    EXPECT_EQ(buffer.GetFrame(100, out), 0);  // the lowest slot of the label
    EXPECT_EQ(cv::norm(out, pattern(2, 2, 1.0f), cv::NORM_INF), 0);
    EXPECT_EQ(cv::countNonZero(atSlot(buffer, 3)), 0);
    EXPECT_EQ(buffer.GetFrame(5, untouched), -1);
    for (int slot : {-1, 4}) EXPECT_EQ(buffer.GetFrameAtSlot(slot, untouched), -1);
    EXPECT_EQ(cv::norm(untouched, pattern(2, 2, -1.0f), cv::NORM_INF), 0);

    // Found by fuzz_frame_buffer: the automatic number after INT_MAX overflowed an int.
    FrameBuffer last(3);
    last.AddFrameNumbered(pattern(2, 3, 0), INT_MAX - 1);
    last.AddFrame(pattern(2, 3, 1.0f));  // numbered from the head, not from a count of adds
    EXPECT_THROW(last.AddFrame(pattern(2, 3, 2.0f)), std::out_of_range);
    EXPECT_EQ(labels(last.Ring()), (V{INT_MAX - 1, INT_MAX, INT_MAX - 1}));
    EXPECT_EQ(cv::countNonZero(atSlot(last, 2)), 0);      // the slot the refused add would take
    last.AddFrameNumbered(pattern(2, 3, 3.0f), INT_MIN);  // an explicit number still goes
    EXPECT_EQ(labels(last.Ring()), (V{INT_MAX - 1, INT_MAX, INT_MIN}));
}

TEST(FrameBuffer, RefusalsLeaveTheBufferUnchangedAndROIsAreCopiedRowByRow) {
    FrameBuffer buffer(2);
    EXPECT_THROW(buffer.AddFrame(cv::Mat(2, 3, CV_64FC1, 1.0)), std::invalid_argument);  // first
    EXPECT_THROW(buffer.AddFrame(cv::Mat()), std::invalid_argument);
    buffer.AddFrame(pattern(2, 3, 0));
    for (const cv::Mat& image : {cv::Mat(2, 3, CV_8UC1, 7.0), cv::Mat(2, 3, CV_32FC3, 7.0),
                                 cv::Mat(3, 3, CV_32FC1, 7.0), cv::Mat(1, 5, CV_32FC1, 7.0)}) {
        EXPECT_THROW(buffer.AddFrame(image), std::invalid_argument);
        EXPECT_THROW(buffer.AddFrameNumbered(image, 9), std::invalid_argument);
    }
    EXPECT_EQ(labels(buffer.Ring()), (V{0, 0}));
    EXPECT_EQ(cv::countNonZero(atSlot(buffer, 1)), 0);
    buffer.AddFrame(pattern(1, 6, 5.0f));  // same element count, other shape
    EXPECT_EQ(atSlot(buffer, 1).at<float>(1, 0), 8.0f);

    const cv::Mat roi = pattern(6, 8, 0)(cv::Rect(2, 1, 3, 4));
    FrameBuffer rois(2);
    for (int i = 0; i < 2; ++i) rois.AddFrame(roi);  // the first add and a later one
    EXPECT_EQ(cv::norm(atSlot(rois, 1), roi, cv::NORM_INF), 0);
    cv::Mat canvas(6, 8, CV_32FC1, cv::Scalar(-1));
    cv::Mat target = canvas(cv::Rect(1, 1, 3, 4));
    EXPECT_EQ(rois.GetFrame(1, target), 0);
    EXPECT_EQ(cv::norm(target, roi, cv::NORM_INF), 0);
    EXPECT_EQ(cv::countNonZero(canvas == -1), 48 - 12);  // written in place, nothing else

    FrameBuffer empty;  // the slot count is open until the first add, reads are refused
    cv::Mat out;
    FeatureList points;
    EXPECT_THROW(empty.AddFrame(pattern(2, 2, 0)), std::length_error);  // no slots
    empty.SetLength(3);
    EXPECT_EQ(empty.GetFrameAtSlot(0, out), -1);
    EXPECT_THROW(empty.ConvolveTime(out, {1.0}), std::logic_error);
    EXPECT_THROW(empty.FindLocalMaxima(points, true), std::logic_error);
    EXPECT_THROW(empty.GetRegion(0, 0, 0, 1, 1, 1, out), std::logic_error);
    EXPECT_THROW(empty.GetLocalRegion(0, 0, 0, 1, 1, 1, out), std::logic_error);
    empty.AddFrame(pattern(2, 2, 0));
    EXPECT_THROW(empty.SetLength(5), std::logic_error);
    EXPECT_EQ(empty.Length(), 3);
}

// Frames 10, 11, 12 in slots 0, 1, 2, value 100 * slot + 10 * row + column. GetRegion: columns
// fastest, then rows, frames, clamped; a larger matrix is written from its start. GetLocalRegion:
// rows fastest, then columns, frames, each printed; boxes leaving the storage are refused.
TEST(Regions, ClampedOrRefusedButNeverReadOutside) {
    FrameBuffer buffer(3);
    for (int s = 0; s < 3; ++s) buffer.AddFrameNumbered(pattern(6, 6, 100.0f * s), 10 + s);
    for (auto [box, expected] : std::vector<std::pair<V, D>>{
             {{0, 1, 11, 1, 2, 12}, {110, 111, 120, 121, 210, 211, 220, 221}},
             {{-3, 7, 20, -1, 7, 21}, D(6, 250)},
             {{4, 0, 5, 9, 0, 5}, {4, 5, 5, 5, 5, 5}},
             {{1, 2, 10, 0, 2, 11}, {}}}) {
        cv::Mat caller(1, 32, CV_64FC1, cv::Scalar(-1));
        buffer.GetRegion(box[0], box[1], box[2], box[3], box[4], box[5], caller);
        expected.resize(32, -1);
        EXPECT_EQ(elements(caller), expected) << box[0];
    }
    cv::Mat out;
    EXPECT_THROW(buffer.GetRegion(1, 2, 10, -1, 2, 11, out), std::length_error);
    // GetLocalRegion's output from the centre frame's line on, then "refused" if it threw.
    const auto local = [&](int row, int column, int frame, int rows, int columns, int frames) {
        testing::internal::CaptureStdout();
        std::string refused;
        try {
            buffer.GetLocalRegion(row, column, frame, rows, columns, frames, out);
        } catch (const std::out_of_range&) {
            refused = "refused";
        }
        const std::string printed = testing::internal::GetCapturedStdout();
        return printed.substr(printed.find("t_orig")) + refused;
    };
    const std::string g = "GetLocalRegion > t=", t11 = "t_orig=11\n" + g + "11; buffind=1\n";
    EXPECT_EQ(local(3, 3, 11, 2, 5, 2), "t_orig=11\n" + g + "10; buffind=0\n" + t11.substr(10));
    EXPECT_EQ(elements(out), (D{21,  31,  22,  32,  23,  33,  24,  34,  25,  35,
                                121, 131, 122, 132, 123, 133, 124, 134, 125, 135}));
    out = cv::Mat(1, 3, CV_64FC1, cv::Scalar(-1));
    EXPECT_EQ(local(3, 3, 11, 2, 0, 1), t11);              // empty: only prints
    EXPECT_EQ(local(1, 3, 11, 4, 1, 1), t11 + "refused");  // rows -1 .. 2
    EXPECT_EQ(local(3, 5, 11, 1, 3, 1), t11 + "refused");  // column 6
    EXPECT_EQ(local(5, 3, 11, 3, 1, 1), t11 + "refused");  // row 6
    EXPECT_EQ(local(3, 3, 13, 1, 1, 2),
              "t_orig=13\n" + g + "12; buffind=2\n" + g + "13; buffind=-1\nrefused");
    EXPECT_EQ(elements(out), D(3, -1));

    FrameBuffer gap(4);  // slots labelled 10, 12, 13, 10; slot 3 still zero
    for (int f : {10, 12, 13}) gap.AddFrameNumbered(cv::Mat(2, 2, CV_32FC1, cv::Scalar(f)), f);
    gap.GetRegion(0, 0, 10, 0, 0, 10, out);                                   // the lowest slot
    EXPECT_THROW(gap.GetRegion(0, 0, 10, 1, 0, 12, out), std::out_of_range);  // no 11
    EXPECT_EQ(elements(out), (D{10, -1, -1}));
}

// Random frames on 1 .. 6 slots, kernels up to n + 2 long (the centre wraps): the plain weighted
// sum, into a new matrix, in place into a continuous one, into an ROI, or afresh for a wrong type;
// ConvolveTimeTwice gives two such sums at once.
TEST(ConvolveProperty, EqualsAPlainPerPixelWeightedSum) {
    cv::RNG rng(20240601);
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 1 + trial % 6, rows = 1 + trial % 5, cols = 1 + (trial * 7) % 9;
        const int adds = n + trial % 5;
        FrameBuffer buffer(n);
        std::vector<cv::Mat> added(static_cast<std::size_t>(adds));
        for (cv::Mat& frame : added) {
            frame.create(rows, cols, CV_32FC1);
            rng.fill(frame, cv::RNG::UNIFORM, -50.0f, 50.0f);
            buffer.AddFrame(frame);
        }
        std::vector<double> kernel(static_cast<std::size_t>(trial % (n + 3)));
        for (double& k : kernel) k = rng.uniform(-1.0, 1.0);
        cv::Mat canvas(rows + 2, cols + 2, CV_32FC1, cv::Scalar(-1));
        const cv::Mat outs[] = {cv::Mat(), cv::Mat(1, rows * cols, CV_32FC1),
                                canvas(cv::Rect(1, 1, cols, rows)), cv::Mat(rows, cols, CV_64FC1)};
        cv::Mat out = outs[trial % 4];
        const uchar* kept = out.type() == CV_32FC1 ? out.data : nullptr;
        const int back = (static_cast<int>(kernel.size()) + 1) / 2 - 1;  // -1: the oldest
        EXPECT_EQ(buffer.ConvolveTime(out, kernel), adds - 1 - (back + n) % n) << trial;
        ASSERT_TRUE(out.type() == CV_32FC1 && (!kept || out.data == kept)) << trial;
        out = out.reshape(1, rows);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                double sum = 0.0;  // kernel entries rounded to float, as documented
                for (int k = 0; k < n && k < static_cast<int>(kernel.size()); ++k)
                    sum += double(float(kernel[k])) * added[adds - 1 - k].at<float>(r, c);
                ASSERT_NEAR(out.at<float>(r, c), sum, 1e-3) << trial;
            }
        const int written = trial % 4 == 2 ? rows * cols : 0;  // the ROI, nothing around it
        EXPECT_EQ(cv::countNonZero(canvas == -1), (rows + 2) * (cols + 2) - written) << trial;
        // Two kernels at once give each one's ConvolveTime bit for bit.
        std::vector<double> other(kernel.rbegin(), kernel.rend());
        cv::Mat alone, first, second = outs[(trial + 1) % 4].clone();
        buffer.ConvolveTime(alone, other);
        EXPECT_EQ(buffer.ConvolveTimeTwice(first, kernel, second, other),
                  adds - 1 - (back + n) % n);
        EXPECT_EQ(cv::norm(first.reshape(1, rows), out, cv::NORM_INF), 0) << trial;
        EXPECT_EQ(cv::norm(second.reshape(1, rows), alone.reshape(1, rows), cv::NORM_INF), 0)
            << trial;
    }
    cv::Mat a, b;
    EXPECT_THROW(FrameBuffer(2).ConvolveTimeTwice(a, {1.0}, b, {1.0, 2.0}), std::invalid_argument);
}

using Records = std::vector<std::tuple<int, int, int, double>>;

Records records(const FeatureList& list) {
    Records out;
    for (const FeaturePoint& p : list) out.emplace_back(p.x, p.y, p.t, p.value);
    return out;
}

// Random frames of ties, NaN, +-inf and -0 on 1 .. 6 slots: both neighbourhoods equal the brute
// force (nothing with too few slots, rows or columns), appended, twice. The widths cover the row
// loops' remainders (around multiples of 8 and 32), the mark kernels' blocks of 8 centres (fewer,
// 8, and 9 where the last block overlaps) and their 64-centre mask words (64 to 66 centres).
TEST(LocalMaximaProperty, EqualsTheBruteForceSearchAndTooFewSlotsFindNothing) {
    const float specials[] = {NAN, INFINITY, -INFINITY, -0.0f};
    const int widths[] = {2,  3,  4,  5,  9,  10, 11, 17, 31, 32,
                          33, 39, 40, 41, 64, 65, 66, 67, 68, 97};
    std::mt19937 rng(7);
    std::size_t total = 0;
    for (int trial = 0; trial < 100; ++trial) {
        const int n = 1 + trial % 6, rows = 2 + (trial * 7) % 10, adds = n + trial / 6 % 3;
        const int cols = widths[trial % 20], specialPercent = trial / 3 % 2 ? 3 : 9;
        FrameBuffer buffer(n);
        std::vector<cv::Mat> byAge;
        std::vector<int> numbers;
        for (int i = 0; i < adds; ++i) {
            cv::Mat_<float> frame(rows, cols);
            for (float& v : frame)
                v = static_cast<int>(rng() % 100) < specialPercent ? specials[rng() % 4]
                                                                   : static_cast<float>(rng() % 6);
            buffer.AddFrameNumbered(frame, 100 + i);
            byAge.insert(byAge.begin(), frame);
            numbers.insert(numbers.begin(), 100 + i);
        }
        byAge.resize(static_cast<std::size_t>(n));
        for (bool full : {true, false}) {
            FeatureList expected(1), found(1);  // appended after a record, twice
            for (int call = 0; call < 2; ++call) {
                test::bruteForceMaxima(byAge, numbers, full, expected);
                buffer.FindLocalMaxima(found, full);
            }
            total += expected.size() - 1;
            EXPECT_EQ(records(found), records(expected)) << trial << full;
        }
    }
    EXPECT_GT(total, 1500u);
}

}  // namespace
}  // namespace stview
