#pragma once

// A plain search for strict local maxima in a stack of frames: the model FindLocalMaxima is
// checked against (tests/spacetime) and timed beside (bench/spacetime_bench.cpp).

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "features/feature_point.hpp"

namespace stview::test {

/// Appends a record for every position of frames 1 .. n-2 of byAge (0 the newest; CV_32FC1, one
/// size) off the border whose value is strictly above each of its 26 neighbours (full) or of
/// its 8 same-frame and 2 same-pixel ones, comparing floats, so NaN is never smaller and never
/// a maximum. frameNumbers[age] labels the records; order: age, row, column.
inline void bruteForceMaxima(const std::vector<cv::Mat>& byAge,
                             const std::vector<int>& frameNumbers, bool full, FeatureList& out) {
    for (std::size_t a = 1; a + 1 < byAge.size(); ++a)
        for (int r = 1; r + 1 < byAge[a].rows; ++r)
            for (int c = 1; c + 1 < byAge[a].cols; ++c) {
                const float v = byAge[a].at<float>(r, c);
                bool strict = true;
                for (int dt = -1; dt <= 1; ++dt)
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const bool counted = full || dt == 0 || (dy == 0 && dx == 0);
                            if ((dt != 0 || dy != 0 || dx != 0) && counted &&
                                !(byAge[a + dt].at<float>(r + dy, c + dx) < v))
                                strict = false;
                        }
                if (!strict) continue;
                FeaturePoint record;
                record.x = c;
                record.y = r;
                record.t = frameNumbers[a];
                record.value = static_cast<double>(v);
                out.push_back(record);
            }
}

}  // namespace stview::test
