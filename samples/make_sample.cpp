// Writes the bundled sample: a short video of two moving objects on a textured
// background, and a features file whose points follow them. Deterministic, so
// that the checked-in files can be made again bit for bit on the same OpenCV.
//
//   make_sample <video.avi> <features.txt>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 120;
constexpr double kPi = 3.14159265358979323846;

cv::Point ballCentre(int frame) {
    const double angle = 2.0 * kPi * frame / kFrames;
    return {static_cast<int>(std::lround(160 + 90 * std::cos(angle))),
            static_cast<int>(std::lround(120 + 70 * std::sin(angle)))};
}

cv::Point boxCentre(int frame) { return {30 + frame * 260 / kFrames, 200}; }

cv::Mat background() {
    cv::Mat image(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int checker = ((x / 20 + y / 20) % 2) * 25;
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(90 + checker),
                                                  static_cast<uchar>(60 + y / 4 + checker),
                                                  static_cast<uchar>(40 + x / 8 + checker));
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <video.avi> <features.txt>\n", argv[0]);
        return 1;
    }
    cv::VideoWriter writer(argv[1], cv::CAP_FFMPEG, cv::VideoWriter::fourcc('D', 'I', 'V', 'X'),
                           25.0, cv::Size(kWidth, kHeight), true);
    std::ofstream features(argv[2]);
    if (!writer.isOpened() || !features) {
        std::fprintf(stderr, "cannot write %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    const cv::Mat base = background();
    for (int frame = 0; frame < kFrames; ++frame) {
        cv::Mat image = base.clone();
        cv::circle(image, ballCentre(frame), 18, cv::Scalar(40, 40, 230), cv::FILLED, cv::LINE_AA);
        const cv::Point box = boxCentre(frame);
        cv::rectangle(image, box - cv::Point(12, 12), box + cv::Point(12, 12),
                      cv::Scalar(220, 200, 60), cv::FILLED);
        writer.write(image);
    }
    features << "# id x y t spatial-variance temporal-variance value\n"
             << "# y counts rows upward from the bottom edge of the frame\n";
    // The ball gets a point every second frame and the box every third; with
    // temporal variances of 4 and 9 each stays drawn until the next one comes.
    for (int frame = 0; frame < kFrames; ++frame) {
        if (frame % 2 == 0) {
            const cv::Point c = ballCentre(frame);
            const double spatial = 36.0 + 12.0 * std::sin(frame * 0.2);
            features << 0 << ' ' << c.x << ' ' << kHeight - c.y << ' ' << frame << ' ' << spatial
                     << ' ' << 4 << ' ' << 1.0 + frame * 0.01 << '\n';
        }
        if (frame % 3 == 0) {
            const cv::Point c = boxCentre(frame);
            features << 1 << ' ' << c.x << ' ' << kHeight - c.y << ' ' << frame << ' ' << 25 << ' '
                     << 9 << ' ' << 0.5 << '\n';
        }
    }
    return features ? 0 : 1;
}
