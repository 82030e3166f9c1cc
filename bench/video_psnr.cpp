// Mean PSNR of a video against a reference: each frame's PSNR over the three
// channels of the BGR frames as OpenCV decodes them, frame n against frame n,
// averaged over the frames both have.
// Usage: stview_video_psnr reference candidate

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s reference candidate\n", argv[0]);
        return 2;
    }
    cv::VideoCapture reference(argv[1], cv::CAP_FFMPEG);
    cv::VideoCapture candidate(argv[2], cv::CAP_FFMPEG);
    if (!reference.isOpened() || !candidate.isOpened()) {
        std::fprintf(stderr, "could not open %s\n", reference.isOpened() ? argv[2] : argv[1]);
        return 1;
    }
    cv::Mat a, b;
    double sum = 0;
    long frames = 0;
    while (reference.read(a) && candidate.read(b)) {
        sum += cv::PSNR(a, b);
        ++frames;
    }
    long extra = 0;
    while ((a.empty() ? reference : candidate).read(b)) ++extra;
    if (frames == 0) {
        std::fprintf(stderr, "no frame to compare\n");
        return 1;
    }
    std::printf("%.2f dB mean PSNR over %ld frames (%ld more in one of the two)\n", sum / frames,
                frames, extra);
    return 0;
}
