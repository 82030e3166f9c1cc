#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "detector/scale_space.hpp"
#include "detector/space_time_detector.hpp"

namespace stview {
namespace {

// Runs fn with STVIEW_SIMD set to each path, skipping those this processor lacks, and leaves
// the variable unset. Returns how many paths ran.
int forEachPath(const std::function<void(const std::string&)>& fn) {
    int ran = 0;
    for (const char* path : {"plain", "avx2", "avx512"}) {
        setenv("STVIEW_SIMD", path, 1);
        reselectSimdPath();
        bool runs = true;
        try {
            EXPECT_STREQ(simdPath(), path);
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("STVIEW_SIMD=" + std::string(path)),
                      std::string::npos);
            runs = false;
        }
        if (runs) {
            SCOPED_TRACE(path);
            fn(path);
            ++ran;
        }
    }
    unsetenv("STVIEW_SIMD");
    reselectSimdPath();
    return ran;
}

bool sameBits(const cv::Mat& a, const cv::Mat& b) {
    return a.size == b.size && a.type() == b.type() && a.isContinuous() && b.isContinuous() &&
           std::memcmp(a.data, b.data, a.total() * a.elemSize()) == 0;
}

// The filter written out: along x, then y, edge samples repeated, each output the centre's
// product then one fused multiply-add per tap pair from the nearest out.
cv::Mat plainSmooth(const cv::Mat& in, const cv::Mat& taps) {
    const int half = taps.rows / 2;
    const float* c = taps.ptr<float>() + half;
    const auto pass = [&](const cv::Mat& src, bool alongX) {
        cv::Mat out(src.size(), CV_32FC1);
        const auto at = [&](int r, int x) {
            return src.at<float>(std::clamp(r, 0, src.rows - 1), std::clamp(x, 0, src.cols - 1));
        };
        for (int r = 0; r < src.rows; ++r)
            for (int x = 0; x < src.cols; ++x) {
                float a = c[0] * at(r, x);
                for (int j = 1; j <= half; ++j) {
                    const float pair =
                        alongX ? at(r, x - j) + at(r, x + j) : at(r - j, x) + at(r + j, x);
                    a = std::fma(c[j], pair, a);
                }
                out.at<float>(r, x) = a;
            }
        return out;
    };
    return pass(pass(in, true), false);
}

// Smoothing (odd sizes, kernels wider than the image), the temporal sums and the response on
// lengths around the vector widths: every path gives the plain model's bits.
TEST(SimdPaths, FiltersSumsAndResponseGiveThePlainBits) {
    cv::RNG random(5);
    const int ran = forEachPath([&](const std::string&) {
        for (const cv::Size size : {cv::Size(1, 1), cv::Size(17, 3), cv::Size(3, 21),
                                    cv::Size(70, 45), cv::Size(143, 37), cv::Size(160, 18)})
            for (const double variance : {1.0, 8.0, 64.0}) {
                cv::Mat image(size, CV_32FC1), smoothed;
                random.fill(image, cv::RNG::UNIFORM, -1.0, 1.0);
                const cv::Mat taps = gaussianTaps(variance);
                smoothSpace(image, smoothed, taps);
                EXPECT_TRUE(sameBits(smoothed, plainSmooth(image, taps)))
                    << size << " variance " << variance;
            }
        for (const int n : {1, 15, 17, 63, 64, 65, 130})
            for (const int terms : {1, 4, 5, 6, 9, 13}) {
                cv::Mat rows(terms, n, CV_32FC1), weights(1, terms, CV_32FC1);
                random.fill(rows, cv::RNG::UNIFORM, -1.0, 1.0);
                random.fill(weights, cv::RNG::UNIFORM, 0.0, 1.0);
                std::vector<const float*> starts;
                for (int s = 0; s < terms; ++s) starts.push_back(rows.ptr<float>(s));
                const float* w = weights.ptr<float>();
                std::vector<float> sum(n), response(n);
                orderedWeightedSum(starts.data(), w, terms, n, sum.data());
                for (int p = 0; p < n; ++p) {
                    const auto term = [&](int s) { return w[s] * starts[s][p]; };
                    float total = term(0);
                    int s = 1;
                    for (; s + 4 <= terms; s += 4)
                        total += term(s) + term(s + 1) + term(s + 2) + term(s + 3);
                    for (; s < terms; ++s) total += term(s);
                    ASSERT_EQ(std::memcmp(&total, &sum[p], sizeof total), 0)
                        << n << " outputs, " << terms << " terms, output " << p;
                }
                if (terms < 6) continue;
                cornerResponseRow(starts.data(), 0.0005, n, response.data());
                for (int p = 0; p < n; ++p) {
                    const double a = starts[0][p], b = starts[1][p], t = starts[2][p],
                                 d = starts[3][p], e = starts[4][p], f = starts[5][p];
                    const double trace = a + b + t;
                    const float h =
                        static_cast<float>(a * (b * t - f * f) - d * (d * t - f * e) +
                                           e * (d * f - b * e) - 0.0005 * trace * trace * trace);
                    ASSERT_EQ(std::memcmp(&h, &response[p], sizeof h), 0) << n << " pixels";
                }
            }
    });
    EXPECT_GE(ran, 1);
}

// The detectors' points and responses are the same bits on every path, for a frame width that
// is no multiple of 16 and corners moving along the frame's edges.
TEST(SimdPaths, DetectorPointsAreBitIdenticalAndBadValuesAreRefused) {
    const cv::Size size(70, 45);
    std::vector<cv::Mat> video;
    cv::Mat texture(size.height, size.width + 12, CV_8UC1);
    cv::theRNG().state = 11;
    cv::randu(texture, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(3, 3), 0.8);
    for (int t = 0; t < 12; ++t) {
        cv::Mat frame(size, CV_8UC1);
        cv::randu(frame, 0, 60);  // flicker
        frame += texture(cv::Rect(t, 0, size.width, size.height));
        cv::rectangle(frame, cv::Rect(t - 6, 2, 8, 8), 255, cv::FILLED);  // entering at the left
        cv::rectangle(frame, cv::Rect(62, size.height - t, 10, 10), 0, cv::FILLED);
        video.push_back(frame);
    }
    // Every filtering detector's points, one after the other, per path.
    std::vector<FeatureList> found;
    forEachPath([&](const std::string&) {
        FeatureList points;
        for (DetectorKind kind :
             {DetectorKind::Harris, DetectorKind::Gabor, DetectorKind::Hessian}) {
            DetectorOptions options = detectorDefaults(kind);
            options.threshold = -1e30;  // the weak maxima too: more responses to compare
            SpaceTimeDetector detector(size, options);
            for (const cv::Mat& frame : video) detector.addFrame(frame, points);
            detector.finish(points);
        }
        found.push_back(points);
    });
    ASSERT_FALSE(found.empty());
    const FeatureList& plain = found[0];
    EXPECT_GT(plain.size(), 20u);
    EXPECT_TRUE(std::any_of(plain.begin(), plain.end(), [&](const FeaturePoint& p) {
        return std::min({p.x, p.y, size.width - 1 - p.x, size.height - p.y}) <= 4;
    }));
    for (std::size_t path = 1; path < found.size(); ++path) {
        ASSERT_EQ(found[path].size(), plain.size()) << "path " << path;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            const FeaturePoint &a = found[path][i], &e = plain[i];
            ASSERT_EQ(std::make_tuple(a.id, a.x, a.y, a.t, a.spatialVariance, a.temporalVariance),
                      std::make_tuple(e.id, e.x, e.y, e.t, e.spatialVariance, e.temporalVariance));
            ASSERT_EQ(std::memcmp(&a.value, &e.value, sizeof a.value), 0) << "point " << i;
        }
    }
    // Neither a name that is no path nor an empty one is an illegal instruction or a guess.
    for (const char* bad : {"AVX2", "sse4", " plain"}) {
        setenv("STVIEW_SIMD", bad, 1);
        reselectSimdPath();
        EXPECT_THROW(simdPath(), std::runtime_error) << bad;
        cv::Mat out;
        EXPECT_THROW(smoothSpace(cv::Mat::ones(4, 4, CV_32FC1), out, gaussianTaps(1)),
                     std::runtime_error);
    }
    setenv("STVIEW_SIMD", "", 1);
    reselectSimdPath();
    EXPECT_NO_THROW(simdPath());
    unsetenv("STVIEW_SIMD");
    reselectSimdPath();
}

}  // namespace
}  // namespace stview
