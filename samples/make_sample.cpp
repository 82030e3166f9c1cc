// Writes the bundled sample video: a chequered box and a striped ball on a quiet
// background. The box slides right, stops, then turns and moves down; the ball moves
// left, stops, and comes back. Starts, stops and turns of textured, high-contrast
// objects are what space-time interest points mark. Deterministic, so that the
// checked-in video can be made again bit for bit on the same OpenCV.
//
//   make_sample <video.avi>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 120;

// Piecewise motion: still, moving, still, moving (another direction).
cv::Point boxCorner(int frame) {
    const int right = std::clamp(frame - 10, 0, 35) * 4;  // frames 10..45: right
    const int down = std::clamp(frame - 60, 0, 30) * 3;   // frames 60..90: down
    return {30 + right, 30 + down};
}

cv::Point ballCentre(int frame) {
    const int left = std::clamp(frame - 20, 0, 30) * 4;  // frames 20..50: left
    const int back = std::clamp(frame - 75, 0, 30) * 4;  // frames 75..105: right again
    return {270 - left + back, 170};
}

cv::Mat background() {
    cv::Mat image(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int shade = 110 + ((x / 40 + y / 40) % 2) * 12;
            image.at<cv::Vec3b>(y, x) =
                cv::Vec3b(static_cast<uchar>(shade + 10), static_cast<uchar>(shade),
                          static_cast<uchar>(shade - 10));
        }
    }
    return image;
}

void drawBox(cv::Mat& image, cv::Point corner) {
    constexpr int kCell = 8;
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            const bool dark = (i + j) % 2 == 0;
            const cv::Point a = corner + cv::Point(j * kCell, i * kCell);
            cv::rectangle(image, a, a + cv::Point(kCell - 1, kCell - 1),
                          dark ? cv::Scalar(20, 20, 20) : cv::Scalar(60, 230, 250), cv::FILLED);
        }
    }
}

void drawBall(cv::Mat& image, cv::Point centre) {
    constexpr int kRadius = 22;
    cv::Mat mask = cv::Mat::zeros(image.size(), CV_8UC1);
    cv::circle(mask, centre, kRadius, 255, cv::FILLED, cv::LINE_8);
    for (int y = centre.y - kRadius; y <= centre.y + kRadius; ++y) {
        for (int x = centre.x - kRadius; x <= centre.x + kRadius; ++x) {
            if (x < 0 || y < 0 || x >= kWidth || y >= kHeight || !mask.at<uchar>(y, x)) continue;
            const bool stripe = ((x - centre.x + 64) / 6) % 2 == 0;
            image.at<cv::Vec3b>(y, x) = stripe ? cv::Vec3b(30, 30, 200) : cv::Vec3b(240, 240, 240);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <video.avi>\n", argv[0]);
        return 1;
    }
    cv::VideoWriter writer(argv[1], cv::CAP_FFMPEG, cv::VideoWriter::fourcc('D', 'I', 'V', 'X'),
                           25.0, cv::Size(kWidth, kHeight), true);
    if (!writer.isOpened()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    const cv::Mat base = background();
    for (int frame = 0; frame < kFrames; ++frame) {
        cv::Mat image = base.clone();
        drawBox(image, boxCorner(frame));
        drawBall(image, ballCentre(frame));
        writer.write(image);
    }
    return 0;
}
