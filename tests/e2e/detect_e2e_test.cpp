// Runs the real stdetect binary: the points of a generated video land on its moving corner
// and stview draws them there; every bad input gets one line, the right status, and no file
// harmed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>

#include "features/features_file.hpp"
#include "tests/e2e/run_binary.hpp"
#include "tests/e2e/test_videos.hpp"

namespace stview {
namespace {

namespace fs = std::filesystem;
using testing_support::runBinary;
using testing_support::RunResult;

const cv::Size kSize(96, 64);
constexpr int kFrames = 30;

// The chequered square's top-left corner: still, then moving right, then still.
cv::Point squareAt(int frame) { return {20 + 2 * std::clamp(frame - 8, 0, 12), 24}; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Everything after the '#' lines.
std::string body(const std::string& text) {
    std::istringstream lines(text);
    std::string line, kept;
    while (std::getline(lines, line))
        if (line.empty() || line[0] != '#') kept += line + '\n';
    return kept;
}

class DetectEndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::path(testing::TempDir()) / ("stdetect-e2e-" + std::to_string(getpid()));
        fs::create_directories(dir_ / "folder");
        cv::VideoWriter writer(path("square.avi"), cv::CAP_FFMPEG,
                               cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0, kSize, true);
        for (int t = 0; t < kFrames; ++t) {
            cv::Mat frame(kSize, CV_8UC3, cv::Scalar(128, 128, 128));
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j)
                    cv::rectangle(frame, squareAt(t) + cv::Point(4 * j, 4 * i),
                                  squareAt(t) + cv::Point(4 * j + 3, 4 * i + 3),
                                  cv::Scalar::all((i + j) % 2 ? 255 : 0), cv::FILLED);
            writer.write(frame);
        }
        writer.release();
        std::ofstream(path("existing.txt")) << "# keep me\n";
        std::ofstream(path("text.avi")) << "this is not a video\n";
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }
    static RunResult detect(std::vector<std::string> args) {
        return runBinary(STDETECT_BINARY, args, testing_support::environmentWithout({}));
    }
    static fs::path dir_;
};
fs::path DetectEndToEnd::dir_;

TEST_F(DetectEndToEnd, PointsFollowTheSquareAndStviewDrawsThemOnIt) {
    const std::vector<std::string> common{
        "-v", path("square.avi"), "--scales", "4,8:2", "--threshold", "1e-9", "--quiet"};
    std::vector<std::string> toFile = common;
    toFile.insert(toFile.end(), {"-o", path("points.txt")});
    const RunResult run = detect(toFile);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string written = readFile(path("points.txt"));
    EXPECT_EQ(body(detect(common).out), body(written)) << "standard output carries the file";

    FeatureParseReport report;
    const FeatureList points = parseFeatures(written, report);
    ASSERT_GE(points.size(), 4u);
    for (const FeaturePoint& p : points) {
        const cv::Point row(p.x, kSize.height - p.y), square = squareAt(p.t);
        EXPECT_TRUE(cv::Rect(square - cv::Point(8, 8), cv::Size(32, 32)).contains(row))
            << "point at column " << p.x << ", row " << row.y << ", frame " << p.t;
        EXPECT_TRUE(p.t > 0 && p.t < kFrames - 1);
    }

    // A range in the middle: absolute frame numbers, never its first or last frame.
    std::vector<std::string> ranged = common;
    ranged.insert(ranged.end(), {"-ff", "6", "-lf", "18"});
    for (const FeaturePoint& p : parseFeatures(detect(ranged).out, report))
        EXPECT_TRUE(p.t > 6 && p.t < 17) << p.t;

    const RunResult view = runBinary(
        STVIEW_BINARY,
        {"--no-window", "-v", path("square.avi"), "-f", path("points.txt"), "-o", path("o.avi")},
        testing_support::environmentWithout({"DISPLAY"}));
    ASSERT_EQ(view.status, 0) << view.err;
    const std::vector<cv::Mat> frames = testing_support::readAllFrames(path("o.avi"));
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
    const FeaturePoint& p = points.front();
    cv::Mat yellow;
    cv::inRange(frames[p.t], cv::Scalar(0, 180, 180), cv::Scalar(90, 255, 255), yellow);
    // The circle (radius 6 or 8) is drawn around the point's pixel.
    const cv::Rect around(p.x - 10, kSize.height - p.y - 10, 21, 21);
    EXPECT_GT(cv::countNonZero(yellow(around & cv::Rect({}, kSize))), 10);
}

struct BadRun {
    const char* name;
    const char* args;  // '@' names a file of the scratch folder
    int status;
    const char* err;  // within the one line on standard error
};

const BadRun kBadRuns[] = {
    {"NoVideo", "-o @x.txt", 2, "-v"},
    {"UnknownOption", "-v @square.avi --colour red", 2, "--colour"},
    {"RepeatedOption", "-v @square.avi -v @square.avi", 2, "-v: given twice"},
    {"ScalesNotNumbers", "-v @square.avi --scales 4,x:2", 2, "--scales"},
    {"ScalesRepeated", "-v @square.avi --scales 4,4:2", 2, "--scales"},
    {"ScalesZero", "-v @square.avi --scales 4:0", 2, "--scales"},
    {"ScalesNegative", "-v @square.avi --scales -4:2", 2, "--scales"},
    {"ScalesWithoutColon", "-v @square.avi --scales 4,8", 2, "--scales"},
    {"ThresholdNotANumber", "-v @square.avi --threshold abc", 2, "--threshold"},
    {"KInfinite", "-v @square.avi --k inf", 2, "--k"},
    {"FirstFrameNegative", "-v @square.avi -ff -3", 2, "-ff"},
    {"FirstFrameText", "-v @square.avi -ff two", 2, "-ff"},
    {"LastNotAfterFirst", "-v @square.avi -ff 5 -lf 5", 2, "-lf"},
    {"NoThreads", "-v @square.avi --threads 0", 2, "--threads"},
    {"ValueMissing", "-v @square.avi --scales", 2, "--scales"},
    {"MissingVideo", "-v @missing.avi -o @existing.txt", 1, "missing.avi"},
    {"NotAVideo", "-v @text.avi -o @existing.txt", 1, "text.avi"},
    {"NoFrameInRange", "-v @square.avi -ff 500 -o @existing.txt", 1, "no frame"},
    {"OutputIsTheVideo", "-v @square.avi -o @folder/../square.avi", 1, "is the input video"},
    {"OutputIsAFolder", "-v @square.avi -o @folder", 1, "folder"},
    {"OutputInMissingFolder", "-v @square.avi -o @none/x.txt", 1, "cannot create"},
};

void PrintTo(const BadRun& c, std::ostream* out) { *out << c.name; }

class DetectBadRuns : public DetectEndToEnd, public testing::WithParamInterface<BadRun> {};

TEST_P(DetectBadRuns, OneLineRightStatusNothingHarmed) {
    const BadRun& c = GetParam();
    const std::string video = readFile(path("square.avi"));
    std::vector<std::string> args;
    std::istringstream words(c.args);
    for (std::string arg; words >> arg;) args.push_back(arg[0] == '@' ? path(arg.substr(1)) : arg);
    const RunResult run = detect(args);
    EXPECT_FALSE(run.signalled);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(readFile(path("square.avi")) == video) << "the video changed";
    EXPECT_EQ(readFile(path("existing.txt")), "# keep me\n");
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Detect, DetectBadRuns, testing::ValuesIn(kBadRuns),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace stview
