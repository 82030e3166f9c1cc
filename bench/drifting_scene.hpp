#pragma once

// The detector benchmarks' scene: grey 640x480 frames of a textured scene moving a pixel per
// frame, with a little noise, made once.

#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace bench {

constexpr int kWidth = 640, kHeight = 480;

inline const std::vector<cv::Mat>& driftingScene() {
    static const std::vector<cv::Mat> video = [] {
        cv::Mat texture(kHeight + 64, kWidth + 64, CV_8UC1);
        cv::theRNG().state = 11;
        cv::randu(texture, 0, 256);
        cv::GaussianBlur(texture, texture, cv::Size(0, 0), 2.0);
        cv::normalize(texture, texture, 0, 255, cv::NORM_MINMAX);
        std::vector<cv::Mat> out;
        for (int t = 0; t < 32; ++t) {
            cv::Mat frame = texture(cv::Rect(t, t / 2, kWidth, kHeight)).clone(),
                    noise(frame.size(), CV_8UC1);
            cv::randu(noise, 0, 8);
            out.push_back(frame + noise);
        }
        return out;
    }();
    return video;
}

}  // namespace bench
