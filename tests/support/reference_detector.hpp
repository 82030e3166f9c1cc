#pragma once

// The space-time corner detector computed the plain way: the whole volume in memory, one
// scale pair at a time, each stage a separate pass that repeats the edge samples of its own
// input. Tests use it as the oracle for the streaming detector, the benchmarks as its
// baseline.

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "detector/space_time_detector.hpp"
#include "imaging/gaussian_kernel.hpp"

namespace stview::reference {

using Volume = std::vector<cv::Mat>;  // CV_32FC1 frames

inline Volume smoothVolume(const Volume& in, double sigma2, double tau2) {
    std::vector<double> g = makeGaussianKernel(sigma2, 0, 3);
    cv::Mat taps;
    cv::Mat(g).convertTo(taps, CV_32F);
    Volume space(in.size()), out(in.size());
    for (std::size_t t = 0; t < in.size(); ++t) {
        cv::sepFilter2D(in[t], space[t], CV_32F, taps, taps, cv::Point(-1, -1), 0,
                        cv::BORDER_REPLICATE);
    }
    const std::vector<double> h = makeGaussianKernel(tau2, 0, 3);
    const int half = static_cast<int>(h.size() / 2), last = static_cast<int>(in.size()) - 1;
    for (int t = 0; t <= last; ++t) {
        cv::Mat sum = cv::Mat::zeros(in[0].size(), CV_64F), frame;
        for (int j = -half; j <= half; ++j) {
            space[std::clamp(t + j, 0, last)].convertTo(frame, CV_64F);
            sum += h[j + half] * frame;
        }
        sum.convertTo(out[t], CV_32F);
    }
    return out;
}

/// Points of the frames (8-bit grey) numbered from firstFrame on, in the detector's order.
inline FeatureList detect(const std::vector<cv::Mat>& grey8, const DetectorOptions& options,
                          int firstFrame) {
    Volume f(grey8.size());
    for (std::size_t t = 0; t < f.size(); ++t) grey8[t].convertTo(f[t], CV_32F, 1.0 / 255);
    const int frames = static_cast<int>(f.size()), rows = f[0].rows, cols = f[0].cols;
    std::vector<double> sigmas = options.spatialVariances, taus = options.temporalVariances;
    std::sort(sigmas.begin(), sigmas.end());
    std::sort(taus.begin(), taus.end());
    std::vector<std::vector<FeatureList>> found(frames);  // per frame, per pair
    for (double s2 : sigmas) {
        for (double t2 : taus) {
            const Volume L = smoothVolume(f, s2, t2);
            const float s = static_cast<float>(std::sqrt(s2) / 2);
            const float u = static_cast<float>(std::sqrt(t2) / 2);
            std::vector<Volume> products(6, Volume(frames));
            for (int t = 0; t < frames; ++t) {
                for (auto& p : products) p[t].create(rows, cols, CV_32F);
                for (int r = 0; r < rows; ++r) {
                    for (int c = 0; c < cols; ++c) {
                        auto at = [&](int tt, int rr, int cc) {
                            return L[std::clamp(tt, 0, frames - 1)].at<float>(
                                std::clamp(rr, 0, rows - 1), std::clamp(cc, 0, cols - 1));
                        };
                        const float lx = s * (at(t, r, c + 1) - at(t, r, c - 1));
                        const float ly = s * (at(t, r + 1, c) - at(t, r - 1, c));
                        const float lt = u * (at(t + 1, r, c) - at(t - 1, r, c));
                        const float v[6] = {lx * lx, ly * ly, lt * lt, lx * ly, lx * lt, ly * lt};
                        for (int i = 0; i < 6; ++i) products[i][t].at<float>(r, c) = v[i];
                    }
                }
            }
            std::vector<Volume> mu(6);
            for (int i = 0; i < 6; ++i) mu[i] = smoothVolume(products[i], 2 * s2, 2 * t2);
            std::vector<cv::Mat> H(frames);
            for (int t = 0; t < frames; ++t) {
                H[t].create(rows, cols, CV_32F);
                for (int r = 0; r < rows; ++r) {
                    for (int c = 0; c < cols; ++c) {
                        double m[6];
                        for (int i = 0; i < 6; ++i) m[i] = mu[i][t].at<float>(r, c);
                        const double a = m[0], b = m[1], z = m[2], d = m[3], e = m[4], g = m[5];
                        const double det =
                            a * (b * z - g * g) - d * (d * z - g * e) + e * (d * g - b * e);
                        H[t].at<float>(r, c) =
                            static_cast<float>(det - options.k * std::pow(a + b + z, 3));
                    }
                }
            }
            for (int t = 1; t + 1 < frames; ++t) {
                FeatureList here;
                for (int r = 1; r + 1 < rows; ++r) {
                    for (int c = 1; c + 1 < cols; ++c) {
                        const float v = H[t].at<float>(r, c);
                        bool strict = v > options.threshold;
                        for (int dt = -1; dt <= 1 && strict; ++dt)
                            for (int dr = -1; dr <= 1 && strict; ++dr)
                                for (int dc = -1; dc <= 1 && strict; ++dc)
                                    if (dt || dr || dc)
                                        strict = v > H[t + dt].at<float>(r + dr, c + dc);
                        if (!strict) continue;
                        FeaturePoint p;
                        p.x = c;
                        p.y = rows - r;
                        p.t = firstFrame + t;
                        p.spatialVariance = s2;
                        p.temporalVariance = t2;
                        p.value = v;
                        here.push_back(p);
                    }
                }
                found[t].push_back(here);
            }
        }
    }
    FeatureList all;
    for (const auto& perFrame : found)
        for (const FeatureList& perPair : perFrame)
            all.insert(all.end(), perPair.begin(), perPair.end());
    for (std::size_t i = 0; i < all.size(); ++i) all[i].id = static_cast<int>(i);
    return all;
}

}  // namespace stview::reference
