// Every kind of bad input a user can hand the viewer: one clear message, the
// right exit status, no crash, and no file harmed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/e2e/run_binary.hpp"
#include "tests/e2e/test_videos.hpp"

namespace stview {
namespace {

namespace fs = std::filesystem;
using testing_support::RunResult;

// The files every case may use, made once per test process.
struct Scratch {
    fs::path dir;
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

Scratch& scratch() {
    static Scratch s;
    return s;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void makeScratch() {
    Scratch& s = scratch();
    s.dir = fs::path(testing::TempDir()) / ("stview-bad-" + std::to_string(getpid()));
    fs::create_directories(s.dir / "folder.avi");
    ASSERT_TRUE(testing_support::writeNumberedVideo(s.path("good.avi"), 40));
    writeFile(s.path("features.txt"), "0 48 32 5 16 4 1\n1 20 20 8 9 9 1\n");
    const std::string video = readFile(s.path("good.avi"));
    writeFile(s.path("truncated.avi"), video.substr(0, video.size() / 2));
    writeFile(s.path("empty.avi"), "");
    writeFile(s.path("text.avi"), "this is not a video\n");
    ASSERT_TRUE(testing_support::writeNumberedVideo(s.path("noframes.avi"), 0));
    fs::copy_file(s.path("good.avi"), s.path("vid\xC3\xA9o\xE2\x98\x83.avi"));
    writeFile(s.path("unreadable.avi"), video);
    fs::permissions(s.path("unreadable.avi"), fs::perms::none);
    fs::create_directories(s.dir / "readonly");
    fs::permissions(s.dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);

    std::mt19937 random(1);
    std::string garbage(4096, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    writeFile(s.path("garbage.txt"), garbage);
    // Each special value in each of the seven columns; only the three reals
    // can hold 1e308 and -1e308, and stream extraction reads no nan or inf.
    std::string specials;
    for (const char* value : {"nan", "inf", "-inf", "1e308", "-1e308"}) {
        for (int column = 0; column < 7; ++column) {
            for (int i = 0; i < 7; ++i)
                specials += std::string(i ? " " : "") + (i == column ? value : "4");
            specials += '\n';
        }
    }
    writeFile(s.path("specials.txt"), specials);
    writeFile(s.path("negative.txt"), "0 10 10 2 -4 -1 0\n0 10 10 2 -4 4 0\n");
    std::string longLine;
    while (longLine.size() < (1 << 20)) longLine += "1 2 3 4 5 6 7 ";
    writeFile(s.path("long.txt"), longLine + "\n");
    writeFile(s.path("crlf.txt"), "# c\r\n0 1 2 3 4 5 6\r\n0 1 2 3 4 5 6\r\n0 1 2 3 4 5 6\r\n");
    writeFile(s.path("bom.txt"),
              "\xEF\xBB\xBF"
              "0 1 2 3 4 5 6\n");
    writeFile(s.path("nofinal.txt"), "0 1 2 3 4 5 6\n0 1 2 3 4 5 6");
    writeFile(s.path("empty.txt"), "");
}

// Arguments starting with '@' name files of the scratch folder; "@long" is a
// 100,000-byte name and "@readonly/" a folder nobody may write in (permissions
// do not stop root, but /proc refuses new files to everyone).
struct BadInput {
    const char* name;
    const char* args;  // separated by single blanks; --no-window is added
    int status;
    const char* err;  // expected within standard error
    const char* out;  // expected within standard output
};

std::string at(const std::string& name) { return scratch().path(name); }

std::string expand(const std::string& arg) {
    if (arg.empty() || arg[0] != '@') return arg;
    if (arg == "@long") return std::string(100000, 'a');
    if (arg.rfind("@readonly/", 0) == 0) {
        return geteuid() == 0 ? "/proc/" + arg.substr(10) : at(arg.substr(1));
    }
    return at(arg.substr(1));
}

const char* const kNotOpened = "Could not initialize capturing from";
const char* const kNoOutput = "Could not open the output video";

const BadInput kCases[] = {
    // Videos
    {"MissingVideo", "-v @missing.avi -f @features.txt", 1, kNotOpened, "load 2"},
    {"EmptyVideo", "-v @empty.avi -f @features.txt", 1, kNotOpened, ""},
    {"TextNamedAvi", "-v @text.avi -f @features.txt", 1, kNotOpened, ""},
    {"TruncatedVideo", "-v @truncated.avi -f @features.txt", 0, "", "load 2"},
    {"VideoWithoutFrames", "-v @noframes.avi -f @features.txt", 1, "", ""},
    {"FolderAsVideo", "-v @folder.avi -f @features.txt", 1, kNotOpened, ""},
    {"NonAsciiVideoName", "-v @vid\xC3\xA9o\xE2\x98\x83.avi -f @features.txt", 0, "", "load 2"},
    {"VeryLongVideoName", "-v @long -f @features.txt", 1, kNotOpened, ""},
    // Features files: the video still plays
    {"GarbageFeatures", "-v @good.avi -f @garbage.txt", 0, "", "load 0 features"},
    {"SpecialValues", "-v @good.avi -f @specials.txt", 0, "Skipped 29 line", "load 6 features"},
    {"NegativeVariances", "-v @good.avi -f @negative.txt", 0, "", "load 2 features"},
    {"OneMegabyteLine", "-v @good.avi -f @long.txt", 0, "", "load 1 features"},
    {"CrlfLineEnds", "-v @good.avi -f @crlf.txt", 0, "", "load 3 features"},
    {"ByteOrderMark", "-v @good.avi -f @bom.txt", 0, "", "load 1 features"},
    {"NoFinalLineBreak", "-v @good.avi -f @nofinal.txt", 0, "", "load 2 features"},
    {"EmptyFeatures", "-v @good.avi -f @empty.txt", 0, "", "load 0 features"},
    {"FolderAsFeatures", "-v @good.avi -f @folder.avi", 0, "", "Unable to open file"},
    // Outputs
    {"OutputInMissingFolder", "-v @good.avi -f @features.txt -o @none/out.avi", 1, kNoOutput, ""},
    {"OutputInReadOnlyFolder", "-v @good.avi -f @features.txt -o @readonly/out.avi", 1, kNoOutput,
     ""},
    {"OutputWithUnknownExtension", "-v @good.avi -f @features.txt -o @out.xyz", 1, kNoOutput, ""},
    {"OutputIsTheInput", "-v @good.avi -f @features.txt -o @folder.avi/../good.avi", 1,
     "is the input video", ""},
    // Options
    {"FirstFrameBeyondInt", "-v @good.avi -f @features.txt -ff 99999999999", 1, "No frame to play",
     ""},
    {"FirstFrameBelowInt", "-v @good.avi -f @features.txt -ff -99999999999", 0, "", "load 2"},
    {"LastFrameBeyondInt", "-v @good.avi -f @features.txt -lf 99999999999", 0, "", "load 2"},
    {"FirstFrameBeyondTheEnd", "-v @good.avi -f @features.txt -ff 1000", 1, "No frame to play", ""},
    {"VideoWithoutValue", "-f @features.txt -v", 0, "", "Usage:"},
    {"FeaturesWithoutValue", "-v @good.avi -f", 0, "", "Usage:"},
    {"OutputWithoutValue", "-v @good.avi -f @features.txt -o", 0, "", "load 2"},
    {"FramesWithoutValues", "-v @good.avi -f @features.txt -ff -lf -p", 0, "", "load 2"},
    // Output settings: refused before anything is opened
    {"QualityBeyondMpeg4Scale", "-v @good.avi -f @features.txt -o @q.avi --quality 32", 1,
     "--quality 32", ""},
    {"QualityBeyondH264Scale", "-v @good.avi -f @features.txt -o @q.mp4 --quality 99", 1,
     "--quality 99", ""},
    {"QualityNotAWholeNumber", "-v @good.avi -f @features.txt -o @q.mp4 --quality 2.5", 1,
     "--quality 2.5", ""},
    {"QualityWithoutValue", "-v @good.avi -f @features.txt -o @q.mp4 --quality", 1,
     "--quality needs a value", ""},
    {"BitRateNotANumber", "-v @good.avi -f @features.txt -o @q.mp4 --bitrate x", 1, "--bitrate x",
     ""},
    {"BitRateWithUnknownUnit", "-v @good.avi -f @features.txt -o @q.mp4 --bitrate 2G", 1,
     "--bitrate 2G", ""},
    {"QualityAndBitRate", "-v @good.avi -f @features.txt -o @q.mp4 --quality 20 --bitrate 2M", 1,
     "at most one", ""},
    {"ZeroFramesPerSecond", "-v @good.avi -f @features.txt -o @q.avi --fps 0", 1, "--fps 0", ""},
    {"FramesPerSecondWord", "-v @good.avi -f @features.txt --fps fast", 1, "--fps fast", ""},
    {"ContainerWithoutTheCodecs", "-v @good.avi -f @features.txt -o @q.webm", 1, "-o: ", ""},
    {"OutputWithoutExtension", "-v @good.avi -f @features.txt -o @q", 1, kNoOutput, ""},
};

void PrintTo(const BadInput& c, std::ostream* out) { *out << c.name; }

class BadInputs : public testing::TestWithParam<BadInput> {
  protected:
    static void SetUpTestSuite() { makeScratch(); }
    static void TearDownTestSuite() {
        std::error_code error;
        fs::permissions(scratch().dir / "readonly", fs::perms::owner_all, error);
        fs::remove_all(scratch().dir, error);
    }
};

TEST_P(BadInputs, OneClearMessageRightStatusNothingHarmed) {
    const BadInput& c = GetParam();
    const std::string videoBefore = readFile(at("good.avi"));
    const std::string featuresBefore = readFile(at("features.txt"));
    std::vector<std::string> args{"--no-window"};
    std::istringstream words(c.args);
    for (std::string arg; words >> arg;) args.push_back(expand(arg));
    const RunResult result = testing_support::runBinary(
        STVIEW_BINARY, args, testing_support::environmentWithout({"DISPLAY", "QT_QPA_PLATFORM"}));
    EXPECT_FALSE(result.signalled) << "killed by signal " << result.status - 128;
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
    if (c.status != 0) {
        EXPECT_FALSE(result.err.empty()) << "a failed run must say why";
    }
    if (c.err[0] == '-') {  // a refused option value: nothing was opened or loaded
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_EQ(result.err.find("ERROR"), std::string::npos) << result.err;
    EXPECT_TRUE(readFile(at("good.avi")) == videoBefore) << "the input video changed";
    EXPECT_TRUE(readFile(at("features.txt")) == featuresBefore) << "the features file changed";
}

INSTANTIATE_TEST_SUITE_P(Viewer, BadInputs, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<BadInput>& info) {
                             return std::string(info.param.name);
                         });

TEST(BadInputsUnreadable, UnreadableVideoIsReported) {
    if (geteuid() == 0) GTEST_SKIP() << "file permissions do not apply to root";
    makeScratch();
    const RunResult result = testing_support::runBinary(
        STVIEW_BINARY, {"--no-window", "-v", at("unreadable.avi"), "-f", at("features.txt")},
        testing_support::environmentWithout({"DISPLAY"}));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Could not initialize capturing from"), std::string::npos);
}

}  // namespace
}  // namespace stview
