#include "imaging/gaussian_kernel.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace stview {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

bool exactlySymmetric(const std::vector<double>& k) {
    return std::equal(k.begin(), k.end(), k.rbegin());
}

// A width overrides the sigma multiple with half size size / 2; otherwise the half size is
// sqrt(variance) * sigmaMultiple truncated toward zero (sqrt(2) * 3 -> 4, 0.5 * -1 -> 0).
TEST(GaussianKernel, HalfSizeRulesAndTaps) {
    const std::vector<double> one = {0.004433, 0.054006, 0.242036, 0.399050,
                                     0.242036, 0.054006, 0.004433};
    const std::tuple<double, int, int, std::vector<double>> cases[] = {
        {1.0, 0, 3, one},
        {1.0, 7, 99, one},
        {1.0, 6, 0, one},
        {2.0,
         0,
         3,
         {0.005173, 0.029767, 0.103898, 0.219951, 0.282423, 0.219951, 0.103898, 0.029767,
          0.005173}},
        {2.25, 0, 2, {0.036633, 0.111281, 0.216745, 0.270682, 0.216745, 0.111281, 0.036633}},
        {1.0, 1, 3, {1.0}},
        {1.0, 0, 0, {1.0}},
        {1.0, -1, 3, {1.0}},
        {0.25, 0, -1, {1.0}},
        {0.00001, 5, 0, {0.0, 1.0, 0.0}},
        {kInf, 4, 0, std::vector<double>(5, 0.2)}};
    for (const auto& [variance, size, sigmaMultiple, taps] : cases) {
        SCOPED_TRACE(testing::Message() << variance << ", " << size << ", " << sigmaMultiple);
        const std::vector<double> kernel = makeGaussianKernel(variance, size, sigmaMultiple);
        ASSERT_EQ(kernel.size(), taps.size());
        for (std::size_t i = 0; i < kernel.size(); ++i) EXPECT_NEAR(kernel[i], taps[i], 5e-7);
        EXPECT_TRUE(exactlySymmetric(kernel));
    }
}

TEST(GaussianKernel, LongKernels) {
    const std::vector<double> trimmed = makeGaussianKernel(1.0, 101, 0);
    ASSERT_EQ(trimmed.size(), 79u);  // underflowed taps trimmed to one zero each side
    EXPECT_TRUE(trimmed.front() == 0.0 && trimmed[1] > 0.0);
    EXPECT_TRUE(exactlySymmetric(trimmed));

    const std::vector<double> wide = makeGaussianKernel(1e9, 100001, 0);
    ASSERT_EQ(wide.size(), 100001u);
    // 50000 * 50000 overflows 32 bits; the outer tap must still be exp(-1.25) of the centre.
    EXPECT_NEAR(wide.front() / wide[50000], std::exp(-1.25), 1e-12);
    EXPECT_LT(wide[50000 - 46341], wide[50000 - 46340]);
}

TEST(GaussianKernel, RejectsBadArgumentsNamingTheValue) {
    const std::tuple<double, int, int, std::string> cases[] = {
        {1.0, -7, 0, "half size -3"},
        {4.0, 0, -1, "half size -2"},
        {0.0, 5, 0, "variance"},
        {-1.0, 5, 0, "-1"},
        {std::nan(""), 5, 0, "nan"},
        {kInf, 0, 0, "nan"},  // infinity * 0
        {1.0, INT_MAX, 0, "half size 1073741823"},
        {1.0, 2 * kMaxGaussianHalfSize + 2, 0,
         "half size " + std::to_string(kMaxGaussianHalfSize + 1)},
        {1e30, 0, 3, "half size 3000000000000000 "}};
    for (const auto& [variance, size, sigmaMultiple, named] : cases) {
        try {
            makeGaussianKernel(variance, size, sigmaMultiple);
            ADD_FAILURE() << "accepted " << variance << ", " << size << ", " << sigmaMultiple;
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace stview
