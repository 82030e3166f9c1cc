#include "imaging/gaussian_kernel.hpp"

#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace stview {
namespace {

void expectTaps(const std::vector<double>& kernel, const std::vector<double>& expected) {
    ASSERT_EQ(kernel.size(), expected.size());
    for (std::size_t i = 0; i < kernel.size(); ++i) {
        EXPECT_NEAR(kernel[i], expected[i], 5e-7) << "tap " << i;
    }
}

void expectExactlySymmetric(const std::vector<double>& kernel) {
    for (std::size_t i = 0; i < kernel.size(); ++i) {
        EXPECT_EQ(kernel[i], kernel[kernel.size() - 1 - i]) << "tap " << i;
    }
}

const std::vector<double> kVarianceOne = {0.004433, 0.054006, 0.242036, 0.399050,
                                          0.242036, 0.054006, 0.004433};

TEST(GaussianKernel, HalfSizeFromSigmaMultiple) {
    const std::vector<double> kernel = makeGaussianKernel(1.0, 0, 3);
    expectTaps(kernel, kVarianceOne);
    expectExactlySymmetric(kernel);
    double sum = 0.0;
    for (double tap : kernel) sum += tap;
    EXPECT_NEAR(sum, 1.0, 1e-15);

    EXPECT_EQ(makeGaussianKernel(2.0, 0, 3).size(), 9u);
    expectTaps(makeGaussianKernel(2.25, 0, 2),
               {0.036633, 0.111281, 0.216745, 0.270682, 0.216745, 0.111281, 0.036633});
}

TEST(GaussianKernel, HalfSizeFromWidthIgnoresSigmaMultiple) {
    const std::vector<double> reference = makeGaussianKernel(1.0, 0, 3);
    EXPECT_EQ(makeGaussianKernel(1.0, 7, 99), reference);
    EXPECT_EQ(makeGaussianKernel(1.0, 6, 0), reference);
    for (const std::vector<double>& single :
         {makeGaussianKernel(1.0, 1, 3), makeGaussianKernel(1.0, 0, 0),
          makeGaussianKernel(1.0, -1, 3), makeGaussianKernel(0.25, 0, -1)}) {
        EXPECT_EQ(single, std::vector<double>{1.0});
    }
}

TEST(GaussianKernel, UnderflowedTapsAreTrimmedToOneZeroEachSide) {
    const std::vector<double> kernel = makeGaussianKernel(1.0, 101, 0);
    ASSERT_EQ(kernel.size(), 79u);
    EXPECT_EQ(kernel.front(), 0.0);
    EXPECT_EQ(kernel.back(), 0.0);
    for (std::size_t i = 1; i + 1 < kernel.size(); ++i) {
        EXPECT_GT(kernel[i], 0.0) << "tap " << i;
    }
    expectExactlySymmetric(kernel);

    EXPECT_EQ(makeGaussianKernel(0.00001, 5, 0), (std::vector<double>{0.0, 1.0, 0.0}));
}

TEST(GaussianKernel, HalfSizesBeyond46340UseWideSquaredOffsets) {
    const std::vector<double> kernel = makeGaussianKernel(1e9, 100001, 0);
    ASSERT_EQ(kernel.size(), 100001u);
    // 50000 * 50000 overflows 32 bits; the outer tap must still be exp(-1.25) of the centre.
    EXPECT_NEAR(kernel.front() / kernel[50000], std::exp(-1.25), 1e-12);
    EXPECT_LT(kernel[50000 - 46341], kernel[50000 - 46340]);
    expectExactlySymmetric(kernel);
}

TEST(GaussianKernel, InfiniteVarianceGivesBoxKernel) {
    EXPECT_EQ(makeGaussianKernel(std::numeric_limits<double>::infinity(), 4, 0),
              std::vector<double>(5, 0.2));
}

void expectRejected(double variance, int size, int sigmaMultiple, const std::string& named) {
    try {
        makeGaussianKernel(variance, size, sigmaMultiple);
        ADD_FAILURE() << "accepted " << variance << ", " << size << ", " << sigmaMultiple;
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
    }
}

TEST(GaussianKernel, RejectsBadArgumentsNamingTheValue) {
    expectRejected(1.0, -2, 0, "half size -1");
    expectRejected(1.0, -7, 0, "half size -3");
    expectRejected(4.0, 0, -1, "half size -2");
    expectRejected(0.0, 5, 0, "variance");
    expectRejected(-1.0, 5, 0, "-1");
    expectRejected(std::nan(""), 5, 0, "nan");
    expectRejected(1.0, INT_MAX, 0, "half size 1073741823");
    expectRejected(1.0, 2 * kMaxGaussianHalfSize + 2, 0,
                   "half size " + std::to_string(kMaxGaussianHalfSize + 1));
    expectRejected(1e30, 0, 3, "half size 3000000000000000 ");
    expectRejected(std::numeric_limits<double>::infinity(), 0, 0, "nan");
}

}  // namespace
}  // namespace stview
