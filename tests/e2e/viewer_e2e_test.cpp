// Runs the real stview binary: the usage text, the echo lines, exact frame
// ranges with their circles, no display; and the output videos as users get
// them: codec, FourCC, pixel format and frame rate as ffprobe reports them,
// frames that decode back to what was drawn, the MP4 index in front, rate
// control, and a render stopped by Ctrl-C.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "features/features_file.hpp"
#include "tests/e2e/harness.hpp"
#include "viewer/overlay.hpp"
#include "viewer/viewed_features.hpp"

namespace stview::e2e {
namespace {

const char* const kUsage =
    "\n"
    "This program displays pre-detected space-time interest points\n"
    "and optionally creates a video with s-t points overlayed on the\n"
    "original video.\n"
    "\n"
    "Usage:\n"
    "   -v  filename : input video file name\n"
    "   -f  filename : input DRAV features file name\n"
    "   -o  filename : output video file name (optional)\n"
    "   -ff integer  : first frame (optional)\n"
    "   -lf integer  : last frame (optional)\n"
    "   -p           : pause after each frame\n";

RunResult view(const std::vector<std::string>& args) { return runBinary(STVIEW_BINARY, args); }

int numberOf(const cv::Mat& frame) {
    int number = 0;
    for (int bit = 0; bit < 6; ++bit)
        if (cv::mean(frame(cv::Rect(bit * 16 + 4, 4, 8, 8)))[1] > 115) number |= 1 << bit;
    return number;
}

bool isYellow(const cv::Vec3b& bgr) { return bgr[1] - bgr[0] > 80 && bgr[2] - bgr[0] > 80; }

TEST(Viewer, UsageTextIsExactAndFirstWhenInputsAreMissing) {
    const std::string usage = kUsage;
    for (const char* args : {"", "plain.avi", "-h -v @count.avi -f @f.txt", "-v @count.avi"}) {
        const RunResult run = view(arguments(args));
        EXPECT_EQ(run.status, 0);
        ASSERT_EQ(run.out.compare(0, usage.size(), usage), 0) << run.out;
        EXPECT_EQ(run.out.find("--no-window", usage.size()), usage.size() + 3);  // one per line
        EXPECT_EQ(run.err, "");
    }
}

TEST(Viewer, EchoLinesAreExact) {
    const RunResult run =
        view({"--no-window", "-v", scratch("count.avi"), "-f", scratch("f.txt"), "-lf", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Input video:   " + scratch("count.avi") + "\nInput features:" +
                           scratch("f.txt") + "\nload 2 features from " + scratch("f.txt") + "\n");
    EXPECT_EQ(run.err, "");
}

TEST(Viewer, WritesExactlyTheRequestedFramesWithTheirCircles) {
    for (const auto& [first, last] : {std::pair{10, 20}, {5, 5}, {0, 1000}}) {
        const std::string out = scratch("range" + std::to_string(first) + ".avi");
        // --no-window last: an option with nothing after it.
        const RunResult run =
            view({"-v", scratch("count.avi"), "-f", scratch("f.txt"), "-ff", std::to_string(first),
                  "-lf", std::to_string(last), "-o", out, "--no-window"});
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_TRUE(fs::exists(out));
        const std::vector<cv::Mat> frames = readAllFrames(out);
        const int count = std::max(0, std::min(last, kNumberedFrames) - first);
        ASSERT_EQ(frames.size(), static_cast<std::size_t>(count));
        // Not a terminal: one summary line only.
        const std::string total = std::to_string(count);
        EXPECT_EQ(run.err.rfind("written " + total + (count ? " of " + total : "") + " frames", 0),
                  0u)
            << run.err;
        EXPECT_EQ(lineCount(run.err), 1);
        for (int k = 0; k < count; ++k) {
            const int n = first + k;
            SCOPED_TRACE(n);
            EXPECT_EQ(numberOf(frames[k]), n);
            // A's ring passes through (76, 40), B's through (26, 34); the centres stay clear.
            EXPECT_EQ(isYellow(frames[k].at<cv::Vec3b>(40, 76)), n == 15);
            EXPECT_EQ(isYellow(frames[k].at<cv::Vec3b>(34, 26)), n >= 11 && n <= 13);
            EXPECT_FALSE(isYellow(frames[k].at<cv::Vec3b>(40, 64)));
            EXPECT_FALSE(isYellow(frames[k].at<cv::Vec3b>(34, 20)));
        }
    }
}

// A trajectories file: its track drawn on frames t0 = 20 - 1 ... 22 as the line through the
// points so far and the newest one's dot, nothing before or after, the circle never.
TEST(Viewer, DrawsEachTrackOnItsFrames) {
    writeFile(scratch("track.txt"),
              "# columns: id x y t sigma2 tau2 value track[8]\n"
              "0 50 31 20 64 2.25 70 20 40 40 40 60 30 80 20\n");
    const std::string out = scratch("track.avi");
    const RunResult run =
        view({"-v", scratch("count.avi"), "-f", scratch("track.txt"), "-o", out, "--no-window"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<cv::Mat> frames = readAllFrames(out), drawn = readAllFrames(scratch("count.avi"));
    ASSERT_EQ(frames.size(), drawn.size());
    FeatureList points;
    ASSERT_EQ(loadViewedFeatures(scratch("track.txt"), points), FeaturesLoad::Loaded);
    const cv::Point heads[] = {{20, 24}, {40, 24}, {60, 34}, {80, 44}};
    for (int n = 16; n < 26; ++n) {
        SCOPED_TRACE(n);
        drawFeatures(points, drawn[n], n);
        EXPECT_GE(cv::PSNR(frames[n], drawn[n]), 25);  // 1-pixel lines lose most to MPEG-4
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(isYellow(frames[n].at<cv::Vec3b>(heads[k])), n >= 19 + k && n <= 22);
        // The first segment's middle, and the record's circle (radius 24 around (50, 33)).
        const cv::Vec3b line = frames[n].at<cv::Vec3b>(24, 30);
        EXPECT_EQ(line[1] + line[2] > 300, n >= 20 && n <= 22) << line;
        EXPECT_FALSE(isYellow(frames[n].at<cv::Vec3b>(33, 26)));
    }
}

// Without a display only the offscreen platform plays, and --realtime keeps the video's
// rate: eight frames at 4 per second end 1.75 s after the first, where playing as fast as
// they decode takes well under a second.
TEST(Viewer, WithoutADisplayOnlyTheOffscreenPlatformPlaysInRealTime) {
    const std::string slow = testClip("96x64", 8, 4);
    for (const auto& [extra, status] :
         {std::pair{"", 2}, {"DISPLAY=:93", 2}, {"QT_QPA_PLATFORM=offscreen", 0}}) {
        SCOPED_TRACE(extra);
        const auto start = std::chrono::steady_clock::now();
        const RunResult run = runBinary(
            STVIEW_BINARY, arguments("-v " + slow + " -f @f.txt -o @window.avi --realtime"), extra);
        EXPECT_EQ(run.status, status) << run.err;
        if (status == 2) {
            EXPECT_NE(run.err.find("--no-window"), std::string::npos) << run.err;
            EXPECT_EQ(lineCount(run.err), 1) << run.err;
        } else {
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1750));
            EXPECT_EQ(readAllFrames(scratch("window.avi")).size(), 8u);
        }
    }
}

// The window steered by STVIEW_KEYS on the offscreen platform, paused on frame 12: three
// frames on and one back shows frame 14 drawn anew (15's circle gone), End and Home jump, o
// hides the circles, s saves what is shown here; the output holds the frames first played
// forward, once each.
TEST(Viewer, WindowStepsBothWaysSavesWhatItShowsAndWritesEachFrameOnce) {
    const fs::path previous = fs::current_path();
    fs::current_path(scratch(""));
    setenv("STVIEW_KEYS", "space,right,right,right,left,s,end,s,home,o,s,pgdn,q", 1);
    const RunResult run =
        runBinary(STVIEW_BINARY, arguments("-v @count.avi -f @f.txt -ff 12 -o @stepped.avi"),
                  "QT_QPA_PLATFORM=offscreen");
    unsetenv("STVIEW_KEYS");
    fs::current_path(previous);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<int> shown;
    for (std::size_t at = run.err.find("frame "); at != std::string::npos;
         at = run.err.find("\nframe ", at + 1)) {
        const int n = std::stoi(run.err.substr(run.err.find(' ', at + 1) + 1));
        if (shown.empty() || shown.back() != n) shown.push_back(n);
    }
    EXPECT_EQ(shown, (std::vector<int>{12, 13, 14, 15, 14, 39, 12, 37})) << run.err;
    EXPECT_NE(run.err.find("frame 15 of 40 | 0:00.600 | 1 point | paused\n"), std::string::npos);
    for (const int n : {14, 39, 12}) {
        const cv::Mat saved = cv::imread(scratch("count-0000" + std::to_string(n) + ".png"));
        ASSERT_FALSE(saved.empty()) << n;
        EXPECT_EQ(numberOf(saved), n);
        EXPECT_FALSE(isYellow(saved.at<cv::Vec3b>(40, 76)) ||
                     isYellow(saved.at<cv::Vec3b>(34, 26)));
    }
    std::vector<int> written;
    for (const cv::Mat& frame : readAllFrames(scratch("stepped.avi")))
        written.push_back(numberOf(frame));
    EXPECT_EQ(written, (std::vector<int>{12, 13, 14, 15, 39}));
}

constexpr int kClipFrames = 150;

// A moving test pattern with fine detail at 15 frames per second, as Motion JPEG.
std::string clip(const std::string& size, int frames) {
    writeFile(scratch("points.txt"), "0 100 120 10 16 16 1\n1 250 60 40 9 100 1\n");
    return testClip(size, frames, 15);
}

// Renders @p video with two points; words starting with '@' are scratch files.
RunResult render(const std::string& video, const std::string& out, const std::string& extra = "",
                 const std::function<bool()>& stopWhen = {}) {
    return runBinary(
        STVIEW_BINARY,
        arguments("--no-window -v " + video + " -f @points.txt -o " + out + " " + extra), "",
        stopWhen);
}

// ffprobe's view of the first video stream: "key=value" lines in its own order.
std::string probe(const std::string& path, const std::string& keys) {
    return runBinary("/usr/bin/ffprobe",
                     arguments("-v error -select_streams v:0 -of "
                               "default=noprint_wrappers=1 -show_entries stream=" +
                               keys + " " + path))
        .out;
}

TEST(OutputVideo, FormatsAsPromisedFramesAsDrawnIndexInFrontRateWithinAQuarter) {
    const std::string input = clip("320x240", kClipFrames);
    std::vector<cv::Mat> drawn = readAllFrames(input);
    ASSERT_EQ(drawn.size(), static_cast<std::size_t>(kClipFrames));
    const FeatureList points = loadFeatures(scratch("points.txt"));
    for (int n = 0; n < kClipFrames; ++n) drawFeatures(points, drawn[n], n);
    for (const auto& [name, codec, tag, minPsnr] :
         {std::tuple{"out.avi", "mpeg4", "DIVX", 30}, {"out.mp4", "h264", "avc1", 33}}) {
        SCOPED_TRACE(name);
        const std::string out = scratch(name);
        ASSERT_EQ(render(input, out).status, 0);
        EXPECT_EQ(probe(out, "codec_name,codec_tag_string,pix_fmt,r_frame_rate"),
                  std::string("codec_name=") + codec + "\ncodec_tag_string=" + tag +
                      "\npix_fmt=yuv420p\nr_frame_rate=25/1\n");
        const std::vector<cv::Mat> frames = readAllFrames(out);
        ASSERT_EQ(frames.size(), drawn.size());
        double worst = 1e9;
        for (int n = 0; n < kClipFrames; ++n)
            worst = std::min(worst, cv::PSNR(frames[n], drawn[n]));
        EXPECT_GE(worst, minPsnr);

        const std::string rated = scratch(std::string("rated-") + name);
        ASSERT_EQ(render(input, rated, "--bitrate 600k --fps source").status, 0);
        const std::string rate = probe(rated, "r_frame_rate,bit_rate");
        EXPECT_EQ(rate.rfind("r_frame_rate=15/1\nbit_rate=", 0), 0u) << rate;
        EXPECT_NEAR(std::stod(rate.substr(rate.find("bit_rate=") + 9)), 600e3, 150e3);
    }
    // A full disk stops the render at the first write that fails.
    fs::create_symlink("/dev/full", scratch("full.avi"));
    const RunResult full = render(input, scratch("full.avi"));
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("Could not write the output video"), std::string::npos) << full.err;
    // Without its index in front, an MP4 file holds no "moov" before its media.
    const std::string mp4 = readFile(scratch("out.mp4"));
    EXPECT_LT(mp4.find("moov"), mp4.find("mdat")) << "index after the media";
}

TEST(OutputVideo, InterruptedRenderLeavesAClosedFileOfTheFramesWritten) {
    constexpr int kFrames = 250;
    const std::string input = clip("640x480", kFrames), out = scratch("stopped.mp4");
    // Interrupted once the encoder has delivered its first packets.
    const RunResult run = render(input, out, "--quality 30", [&] {
        std::error_code error;
        return fs::file_size(out, error) > 64 * 1024 && !error;
    });
    ASSERT_EQ(run.status, 130) << run.err;
    const auto said = run.err.find("Interrupted: ");
    ASSERT_NE(said, std::string::npos) << run.err;
    const long written = std::stol(run.err.substr(said + 13));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, kFrames);
    const std::vector<cv::Mat> inputFrames = readAllFrames(input), frames = readAllFrames(out);
    ASSERT_EQ(static_cast<long>(frames.size()), written);
    for (std::size_t n = 0; n < frames.size(); ++n)
        EXPECT_GT(cv::PSNR(frames[n], inputFrames[n]), 28) << n;
}

}  // namespace
}  // namespace stview::e2e
