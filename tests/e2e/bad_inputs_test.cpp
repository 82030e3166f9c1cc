// Every kind of bad input either binary itself handles gets one clear line, the
// right status, and harms no file (the features parser and the option tables
// have their own tests; here only what the binaries do with their verdicts).

#include <gtest/gtest.h>

#include "tests/e2e/harness.hpp"

namespace stview::e2e {
namespace {

const char* const kView = STVIEW_BINARY;  // run with --no-window
const char* const kDetect = STDETECT_BINARY;
const char* const kNotOpened = "Could not initialize capturing from";
const char* const kNoOutput = "Could not open the output video";

struct BadInput {
    const char* program;
    const char* args;  // '@' names a file of the scratch folder
    int status;        // stview: 1; stdetect: 2 for refused arguments, 1 for unusable files
    const char* err;   // within standard error
    const char* out;   // within standard output
    const char* env = "";
    long lines = 1;          // of standard error when the status is not 0
    bool interrupt = false;  // SIGINT once standard output holds something
};

const BadInput kBadInputs[] = {
    {kView, "-v @missing.avi -f @f.txt", 1, kNotOpened, "load 2"},
    {kView, "-v @empty.avi -f @f.txt", 1, kNotOpened, ""},
    {kView, "-v @folder -f @f.txt", 1, kNotOpened, ""},
    {kView, "-v @truncated.avi -f @f.txt", 0, "", "load 2"},
    {kView, "-v @vid\xC3\xA9o\xE2\x98\x83.avi -f @f.txt", 0, "", "load 2"},
    // A features file that cannot be read, or holds no record among other lines, draws
    // nothing: refused before any output is opened. Empty or header-only: no point.
    {kView, "-v @count.avi -f @folder -o @never.avi", 1, "could not be read",
     "Unable to open file"},
    {kView, "-v @count.avi -f @missing.txt -o @never.avi", 1, "could not be read", "Unable to"},
    {kView, "-v @count.avi -f @count.avi -o @never.avi", 1, "no point record", "", "", 2},
    {kView, "-v @count.avi -f @existing.txt", 0, "", "load 0 features"},
    {kView, "-v @count.avi -f @short-track.txt -o @never.avi", 1, "lacks its track[8] numbers", ""},
    {kView, "-v @count.avi -f @empty.avi", 0, "", "load 0 features"},
    {kView, "-v @count.avi -f @f.txt -ff 1000", 1, "No frame to play", ""},
    {kView, "-v @count.avi -f @f.txt -o @none/out.avi", 1, kNoOutput, ""},
    {kView, "-v @count.avi -f @f.txt -o @out.xyz", 1, kNoOutput, ""},
    {kView, "-v @count.avi -f @f.txt -o @folder/../count.avi", 1, "is the input video", ""},
    {kView, "-v @count.avi -f @f.txt -o @q.webm", 1, "-o: ", ""},
    // Output settings are refused before anything is opened.
    {kView, "-v @count.avi -f @f.txt -o @q.mp4 --quality", 1, "--quality needs a value", ""},
    {kView, "-v @count.avi -f @f.txt -o @q.mp4 --quality 20 --bitrate 2M", 1, "at most one", ""},
    {kView, "-v @count.avi -f @f.txt --fps fast", 1, "--fps fast", ""},
    {kDetect, "-o @x.txt", 2, "-v", ""},
    {kDetect, "-v @square.avi --colour red", 2, "--colour", ""},
    {kDetect, "-v @square.avi -v @square.avi", 2, "-v: given twice", ""},
    {kDetect, "-v @square.avi --scales 4,x:2", 2, "--scales", ""},
    {kDetect, "-v @square.avi --scales 4,4:2", 2, "--scales", ""},
    {kDetect, "-v @square.avi --scales 4:0", 2, "--scales", ""},
    {kDetect, "-v @square.avi --scales 4,8", 2, "--scales", ""},
    {kDetect, "-v @square.avi --scales", 2, "--scales", ""},
    {kDetect, "-v @square.avi --threshold abc", 2, "--threshold", ""},
    {kDetect, "-v @square.avi --k inf", 2, "--k", ""},
    {kDetect, "-v @square.avi -ff -3", 2, "-ff", ""},
    {kDetect, "-v @square.avi -ff two", 2, "-ff", ""},
    {kDetect, "-v @square.avi -ff 5 -lf 5", 2, "-lf", ""},
    {kDetect, "-v @square.avi --threads 0", 2, "--threads", ""},
    // Options are refused by name, with the detector they do not fit.
    {kDetect, "-v @square.avi --detector nosuch", 2,
     "--detector: unknown detector 'nosuch' (harris, gabor, hessian, dense, trajectories)", ""},
    {kDetect, "-v @square.avi --k 0.001 --detector gabor", 2,
     "--k: applies to harris only, not to gabor", ""},
    {kDetect, "-v @square.avi --detector dense --threshold 0", 2, "--threshold: dense", ""},
    {kDetect, "--memory-need 64x48 --detector hessian --k 1", 2,
     "--k: applies to harris only, not to hessian", ""},
    // After the system's own line, stdetect's, saying what it could not do.
    {kDetect, "-v @missing.avi -o @existing.txt", 1, "stdetect: could not open the video", "", "",
     2},
    {kDetect, "-v @empty.avi -o @existing.txt", 1, "stdetect: could not open the video", "", "", 2},
    {kDetect, "-v @square.avi -ff 500 -o @existing.txt", 1, "no frame", ""},
    {kDetect, "-v @square.avi -o @folder/../square.avi", 1, "is the input video", ""},
    {kDetect, "-v @square.avi -o @folder", 1, "folder", ""},
    {kDetect, "-v @square.avi -o @none/x.txt", 1, "cannot create", ""},
    {kDetect, "--memory-need 640by480", 2, "--memory-need", ""},
    {kDetect, "-v @square.avi -o @existing.txt", 1, "1.0 MB is available", "",
     "STVIEW_MEMORY_LIMIT=1M"},
    // Each descriptor value is read as itself: the header names the columns attached.
    {kDetect, "-v @square.avi --scales 4:2 --quiet --descriptors hog", 0, "", "H hog[72]\n"},
    {kDetect, "-v @square.avi --scales 4:2 --quiet --descriptors hof", 0, "", "H hof[90]\n"},
    {kDetect, "-v @square.avi --scales 4:2 --quiet --descriptors hog,hof", 0, "", "H hog[72] hof"},
    // Interrupted while writing to standard output: what was written stays, and is said so.
    {kDetect, "-v @320x240-400-25.avi --quiet", 130, "standard output holds a partial", "# ", "", 1,
     true},
};

TEST(BadInputs, OneClearLineTheRightStatusAndNothingHarmed) {
    fs::create_directories(scratch("folder"));
    const std::string video = readFile(scratch("count.avi")), points = readFile(scratch("f.txt")),
                      square = readFile(scratch("square.avi"));
    fs::copy_file(scratch("count.avi"), scratch("vid\xC3\xA9o\xE2\x98\x83.avi"));
    writeFile(scratch("truncated.avi"), video.substr(0, video.size() / 2));
    writeFile(scratch("empty.avi"), "");
    writeFile(scratch("existing.txt"), "# keep me\n");
    writeFile(scratch("short-track.txt"),
              "# columns: id x y t sigma2 tau2 value track[8]\n"
              "0 50 31 5 64 2.25 70 20 40 40 40 60\n");
    ASSERT_FALSE(testClip("320x240", 400, 25).empty());
    const auto outputStarted = [] {
        std::error_code error;
        return fs::file_size(scratch("stdout"), error) > 0 && !error;
    };
    for (const BadInput& c : kBadInputs) {
        SCOPED_TRACE(c.args);
        if (c.interrupt) fs::remove(scratch("stdout"));  // the last run's is not this one's
        const RunResult run = runBinary(
            c.program, arguments((c.program == kView ? "--no-window " : "") + std::string(c.args)),
            c.env, c.interrupt ? std::function<bool()>(outputStarted) : nullptr);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
        EXPECT_TRUE(c.status == 0 || lineCount(run.err) == c.lines) << run.err;
        EXPECT_FALSE(fs::exists(scratch("never.avi")));
        EXPECT_TRUE(c.err[0] != '-' || run.out.empty()) << "refused, yet opened or loaded";
        EXPECT_EQ(run.err.find("ERROR"), std::string::npos) << run.err;
        EXPECT_TRUE(readFile(scratch("count.avi")) == video) << "the input video changed";
        EXPECT_TRUE(readFile(scratch("square.avi")) == square) << "the input video changed";
        EXPECT_EQ(readFile(scratch("f.txt")), points);
        EXPECT_EQ(readFile(scratch("existing.txt")), "# keep me\n");
        for (const auto& entry : fs::directory_iterator(scratch("")))
            EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos);
    }
}

}  // namespace
}  // namespace stview::e2e
