// Every kind of bad input a user can hand the viewer: one clear message, the
// right exit status, no crash, and no file harmed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
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
    fs::copy_file(s.path("good.avi"), s.path("vid\xC3\xA9o \xE2\x98\x83.avi"));
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

struct BadInput {
    const char* name;
    std::function<std::vector<std::string>()> args;  // without --no-window
    int status;
    const char* err;  // expected in standard error ("" for none expected)
    const char* out;  // expected in standard output
};

std::vector<std::string> run(const std::string& video, const std::string& features,
                             std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"-v", video, "-f", features};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}
std::string at(const char* name) { return scratch().path(name); }
std::string good() { return at("good.avi"); }
std::string features() { return at("features.txt"); }

const BadInput kCases[] = {
    // Videos
    {"MissingVideo", [] { return run(at("missing.avi"), features()); }, 1,
     "Could not initialize capturing from", "load 2 features"},
    {"EmptyVideo", [] { return run(at("empty.avi"), features()); }, 1,
     "Could not initialize capturing from", ""},
    {"TextNamedAvi", [] { return run(at("text.avi"), features()); }, 1,
     "Could not initialize capturing from", ""},
    {"TruncatedVideo", [] { return run(at("truncated.avi"), features()); }, 0, "", "load 2"},
    {"VideoWithoutFrames", [] { return run(at("noframes.avi"), features()); }, 1, "", ""},
    {"FolderAsVideo", [] { return run(at("folder.avi"), features()); }, 1,
     "Could not initialize capturing from", ""},
    {"NonAsciiVideoName", [] { return run(at("vid\xC3\xA9o \xE2\x98\x83.avi"), features()); }, 0,
     "", "load 2 features"},
    {"VeryLongVideoName", [] { return run(std::string(100000, 'a'), features()); }, 1,
     "Could not initialize capturing from", ""},
    // Features files: the video still plays
    {"GarbageFeatures", [] { return run(good(), at("garbage.txt")); }, 0, "", "load 0 features"},
    {"SpecialValues", [] { return run(good(), at("specials.txt")); }, 0, "Skipped 29 line",
     "load 6 features"},
    {"NegativeVariances", [] { return run(good(), at("negative.txt")); }, 0, "", "load 2 features"},
    {"OneMegabyteLine", [] { return run(good(), at("long.txt")); }, 0, "", "load 1 features"},
    {"CrlfLineEnds", [] { return run(good(), at("crlf.txt")); }, 0, "", "load 3 features"},
    {"ByteOrderMark", [] { return run(good(), at("bom.txt")); }, 0, "", "load 1 features"},
    {"NoFinalLineBreak", [] { return run(good(), at("nofinal.txt")); }, 0, "", "load 2 features"},
    {"EmptyFeatures", [] { return run(good(), at("empty.txt")); }, 0, "", "load 0 features"},
    {"FolderAsFeatures", [] { return run(good(), at("folder.avi")); }, 0, "",
     "Unable to open file"},
    // Outputs
    {"OutputInMissingFolder",
     [] {
         return run(good(), features(), {"-o", at("none/out.avi")});
     },
     1, "Could not open the output video", ""},
    {"OutputInReadOnlyFolder",
     [] {
         // Permissions do not stop root; /proc refuses new files to everyone.
         return run(good(), features(),
                    {"-o", geteuid() == 0 ? "/proc/stview-out.avi" : at("readonly/out.avi")});
     },
     1, "Could not open the output video", ""},
    {"OutputWithUnknownExtension",
     [] {
         return run(good(), features(), {"-o", at("out.xyz")});
     },
     1, "Could not open the output video", ""},
    {"OutputIsTheInput",
     [] {
         return run(good(), features(), {"-o", scratch().dir.string() + "/folder.avi/../good.avi"});
     },
     1, "is the input video", ""},
    // Options
    {"FirstFrameBeyondInt",
     [] {
         return run(good(), features(), {"-ff", "99999999999"});
     },
     1, "No frame to play", ""},
    {"FirstFrameBelowInt",
     [] {
         return run(good(), features(), {"-ff", "-99999999999"});
     },
     0, "", "load 2"},
    {"LastFrameBeyondInt",
     [] {
         return run(good(), features(), {"-lf", "99999999999"});
     },
     0, "", "load 2"},
    {"FirstFrameBeyondTheEnd",
     [] {
         return run(good(), features(), {"-ff", "1000"});
     },
     1, "No frame to play", ""},
    {"VideoWithoutValue",
     [] {
         return std::vector<std::string>{"-f", features(), "-v"};
     },
     0, "", "Usage:"},
    {"FeaturesWithoutValue",
     [] {
         return std::vector<std::string>{"-v", good(), "-f"};
     },
     0, "", "Usage:"},
    {"OutputWithoutValue", [] { return run(good(), features(), {"-o"}); }, 0, "", "load 2"},
    {"FramesWithoutValues",
     [] {
         return run(good(), features(), {"-ff", "-lf", "-p"});
     },
     0, "", "load 2"},
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
    const std::string videoBefore = readFile(good());
    const std::string featuresBefore = readFile(features());
    std::vector<std::string> args = c.args();
    args.push_back("--no-window");
    const RunResult result = testing_support::runBinary(
        STVIEW_BINARY, args, testing_support::environmentWithout({"DISPLAY", "QT_QPA_PLATFORM"}));
    EXPECT_FALSE(result.signalled) << "killed by signal " << result.status - 128;
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
    if (c.status != 0) {
        EXPECT_FALSE(result.err.empty()) << "a failed run must say why";
    }
    EXPECT_EQ(result.err.find("ERROR"), std::string::npos) << result.err;
    EXPECT_TRUE(readFile(good()) == videoBefore) << "the input video changed";
    EXPECT_TRUE(readFile(features()) == featuresBefore) << "the features file changed";
}

INSTANTIATE_TEST_SUITE_P(Viewer, BadInputs, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<BadInput>& info) {
                             return std::string(info.param.name);
                         });

TEST(BadInputsUnreadable, UnreadableVideoIsReported) {
    if (geteuid() == 0) GTEST_SKIP() << "file permissions do not apply to root";
    makeScratch();
    const RunResult result = testing_support::runBinary(
        STVIEW_BINARY, {"--no-window", "-v", at("unreadable.avi"), "-f", features()},
        testing_support::environmentWithout({"DISPLAY"}));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Could not initialize capturing from"), std::string::npos);
}

}  // namespace
}  // namespace stview
