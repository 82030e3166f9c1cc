// The output videos as users get them: codec, FourCC, pixel format and frame
// rate as ffprobe reports them, frames that decode back to what was drawn, the
// MP4 index in front, rate control, and a render stopped by Ctrl-C.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "features/features_file.hpp"
#include "tests/e2e/run_binary.hpp"
#include "tests/e2e/test_videos.hpp"
#include "viewer/overlay.hpp"

namespace stview {
namespace {

namespace fs = std::filesystem;
using testing_support::readAllFrames;
using testing_support::RunResult;

constexpr int kClipFrames = 150;

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::function<bool()>& interruptWhen = {}) {
    return testing_support::runBinary(
        program, args, testing_support::environmentWithout({"DISPLAY", "QT_QPA_PLATFORM"}), 120,
        interruptWhen);
}

// A moving test pattern with fine detail, at 15 frames per second, as Motion JPEG.
bool makeClip(const std::string& path, const std::string& size, int frames) {
    return run("/usr/bin/ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                   "testsrc2=size=" + size + ":rate=15", "-frames:v",
                                   std::to_string(frames), "-c:v", "mjpeg", "-q:v", "2", path})
               .status == 0;
}

// ffprobe's view of the first video stream, as key and value.
std::map<std::string, std::string> probe(const std::string& path) {
    const RunResult result =
        run("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                 "stream=codec_name,codec_tag_string,pix_fmt,r_frame_rate,bit_rate",
                                 "-of", "default=noprint_wrappers=1", path});
    std::map<std::string, std::string> entries;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) entries[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return entries;
}

// The four-byte types of an MP4 file's top-level boxes, in file order.
std::vector<std::string> topLevelBoxes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> types;
    unsigned char header[16];
    while (in.read(reinterpret_cast<char*>(header), 8)) {
        unsigned long long size = 0;
        for (int i = 0; i < 4; ++i) size = size << 8 | header[i];
        types.emplace_back(reinterpret_cast<char*>(header) + 4, 4);
        if (size == 1 && in.read(reinterpret_cast<char*>(header) + 8, 8)) {
            size = 0;
            for (int i = 8; i < 16; ++i) size = size << 8 | header[i];
            size -= 8;
        }
        if (size < 8) break;  // 0: up to the end of the file
        in.seekg(static_cast<std::streamoff>(size - 8), std::ios::cur);
    }
    return types;
}

class OutputVideo : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::path(testing::TempDir()) / ("stview-output-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        ASSERT_TRUE(makeClip(path("clip.avi"), "320x240", kClipFrames));
        std::ofstream(path("features.txt")) << "0 100 120 10 16 16 1\n1 250 60 40 9 100 1\n";
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }

    static RunResult render(const std::string& out, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{
            "--no-window", "-v", path("clip.avi"), "-f", path("features.txt"), "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(STVIEW_BINARY, args);
    }

    static fs::path dir_;
};

fs::path OutputVideo::dir_;

TEST_F(OutputVideo, FormatsAsPromisedAndFramesDecodeToWhatWasDrawn) {
    struct Case {
        const char* name;
        const char* codec;
        const char* tag;
        double minPsnr;  // each frame against the input with its circles drawn
    };
    const FeatureList points = loadFeatures(path("features.txt"));
    std::vector<cv::Mat> drawn = readAllFrames(path("clip.avi"));
    ASSERT_EQ(drawn.size(), static_cast<std::size_t>(kClipFrames));
    for (int n = 0; n < kClipFrames; ++n) drawFeatures(points, drawn[n], n);

    for (const Case& c : {Case{"out.avi", "mpeg4", "DIVX", 30}, Case{"out.mp4", "h264", "avc1", 33},
                          Case{"out.mkv", "h264", "", 33}}) {
        SCOPED_TRACE(c.name);
        const RunResult result = render(path(c.name));
        ASSERT_EQ(result.status, 0) << result.err;
        auto stream = probe(path(c.name));
        EXPECT_EQ(stream["codec_name"], c.codec);
        if (c.tag[0] != '\0') {
            EXPECT_EQ(stream["codec_tag_string"], c.tag);
        }
        EXPECT_EQ(stream["pix_fmt"], "yuv420p");
        EXPECT_EQ(stream["r_frame_rate"], "25/1");
        const std::vector<cv::Mat> frames = readAllFrames(path(c.name));
        ASSERT_EQ(frames.size(), drawn.size());
        double worst = 1e9;
        for (int n = 0; n < kClipFrames; ++n)
            worst = std::min(worst, cv::PSNR(frames[n], drawn[n]));
        EXPECT_GE(worst, c.minPsnr);
    }
    const std::vector<std::string> boxes = topLevelBoxes(path("out.mp4"));
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    EXPECT_LT(moov, std::find(boxes.begin(), boxes.end(), "mdat")) << "index after the media";
}

TEST_F(OutputVideo, BitRateWithinAQuarterAndSourceFrameRateKept) {
    for (const char* name : {"rate.avi", "rate.mp4"}) {
        SCOPED_TRACE(name);
        const RunResult result = render(path(name), {"--bitrate", "600k", "--fps", "source"});
        ASSERT_EQ(result.status, 0) << result.err;
        auto stream = probe(path(name));
        EXPECT_EQ(stream["r_frame_rate"], "15/1");
        EXPECT_NEAR(std::stod(stream["bit_rate"]), 600e3, 150e3);
    }
}

TEST_F(OutputVideo, InterruptedRenderLeavesAClosedFileOfTheFramesWritten) {
    const std::string clip = path("long.avi");
    const std::string out = path("stopped.mp4");
    constexpr int kFrames = 250;
    ASSERT_TRUE(makeClip(clip, "640x480", kFrames));
    // Interrupted once the encoder has delivered its first packets.
    const RunResult result = run(
        STVIEW_BINARY,
        {"--no-window", "-v", clip, "-f", path("features.txt"), "-o", out, "--quality", "30"}, [&] {
            std::error_code error;
            return fs::file_size(out, error) > 64 * 1024 && !error;
        });
    EXPECT_FALSE(result.signalled);
    ASSERT_EQ(result.status, 130) << result.err;
    long written = 0;
    const auto said = result.err.find("Interrupted: ");
    ASSERT_NE(said, std::string::npos) << result.err;
    written = std::stol(result.err.substr(said + 13));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, kFrames);

    const std::vector<cv::Mat> input = readAllFrames(clip);
    const std::vector<cv::Mat> frames = readAllFrames(out);
    ASSERT_EQ(static_cast<long>(frames.size()), written);
    for (std::size_t n = 0; n < frames.size(); ++n) {
        EXPECT_GT(cv::PSNR(frames[n], input[n]), 28) << "frame " << n;
    }
}

}  // namespace
}  // namespace stview
