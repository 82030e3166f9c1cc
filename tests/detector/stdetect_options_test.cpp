#include "detector/stdetect_options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stview {
namespace {

// What readDetectSettings makes of a command line: "run", "usage", "need WxH" or the
// refusal's line.
std::string outcome(const std::vector<std::string>& args, DetectSettings& settings) {
    const DetectCommand command = readDetectSettings(args, settings);
    switch (command.kind) {
        case DetectCommand::Run:
            return "run";
        case DetectCommand::Usage:
            return "usage";
        case DetectCommand::MemoryNeed:
            return "need " + std::to_string(settings.memoryNeedSize.width) + "x" +
                   std::to_string(settings.memoryNeedSize.height);
        case DetectCommand::Bad:
            break;
    }
    return command.error;
}

TEST(StdetectOptions, BoundsAndTheWordingOfEachRefusal) {
    using Args = std::vector<std::string>;
    // clang-format off
    const std::pair<Args, const char*> cases[] = {
        {{}, "-v: no input video given"},
        {{"-v", "a.avi"}, "run"},
        {{"-v", "a.avi", "-h"}, "usage"},
        {{"--help", "--bogus"}, "usage"},
        {{"-v"}, "-v: needs a value"},
        {{"-v", ""}, "-v: needs a file name"},
        {{"-v", "a", "-o", ""}, "-o: needs a file name"},
        {{"-v", "a", "--bogus", "1"}, "--bogus: unknown option"},
        {{"-v", "a", "stray"}, "stray: unexpected argument (options come as -v video)"},
        {{"-v", "a", "-v", "b"}, "-v: given twice"},
        {{"-v", "a", "--quiet", "--quiet"}, "--quiet: given twice"},
        {{"--quiet", "-v", "a"}, "run"},
        // Frame numbers: whole, from 0, the last after the first, within int.
        {{"-v", "a", "-ff", "0", "-lf", "1"}, "run"},
        {{"-v", "a", "-ff", "x"}, "-ff: 'x' is not a whole number"},
        {{"-v", "a", "-ff", ""}, "-ff: '' is not a whole number"},
        {{"-v", "a", "-ff", " 5"}, "-ff: ' 5' is not a whole number"},
        {{"-v", "a", "-ff", "5 "}, "-ff: '5 ' is not a whole number"},
        {{"-v", "a", "-ff", "1.5"}, "-ff: '1.5' is not a whole number"},
        {{"-v", "a", "-ff", "99999999999999999999"}, "-ff: 99999999999999999999 is out of range"},
        {{"-v", "a", "-ff", "-1"}, "-ff: -1 is negative"},
        {{"-v", "a", "-ff", "2147483646"}, "run"},
        {{"-v", "a", "-ff", "2147483647"},
         "-ff: 2147483647 is beyond the largest frame number, 2147483646"},
        {{"-v", "a", "-ff", "5", "-lf", "5"}, "-lf: 5 is not after the first frame 5"},
        {{"-v", "a", "-ff", "5", "-lf", "6"}, "run"},
        {{"-v", "a", "-lf", "2147483647"}, "run"},
        {{"-v", "a", "-lf", "2147483648"},
         "-lf: 2147483648 is beyond the largest frame number, 2147483647"},
        // Threads: 1 to 1024.
        {{"-v", "a", "--threads", "1"}, "run"},
        {{"-v", "a", "--threads", "1024"}, "run"},
        {{"-v", "a", "--threads", "0"}, "--threads: 0 is out of range (1 to 1024)"},
        {{"-v", "a", "--threads", "1025"}, "--threads: 1025 is out of range (1 to 1024)"},
        // Scales, k and threshold.
        {{"-v", "a", "--scales", "4,8:2"}, "run"},
        {{"-v", "a", "--scales", "4,8"}, "--scales: '4,8' is not spatial:temporal (e.g. 4,8:2,4)"},
        {{"-v", "a", "--scales", "4:2:1"}, "--scales: '4:2:1' is not spatial:temporal (e.g. 4,8:2,4)"},
        {{"-v", "a", "--scales", "4,:2"}, "--scales: '4,' has an empty item"},
        {{"-v", "a", "--scales", "4:x"}, "--scales: 'x' is not a number"},
        {{"-v", "a", "--scales", ":2"}, "--scales: no spatial variance"},
        {{"-v", "a", "--scales", "4:"}, "--scales: no temporal variance"},
        {{"-v", "a", "--scales", "4:0"}, "--scales: temporal variance 0 is not a positive number"},
        {{"-v", "a", "--scales", "4,4:2"}, "--scales: spatial variance 4 is given twice"},
        {{"-v", "a", "--k", "0.1"}, "run"},
        {{"-v", "a", "--k", "inf"}, "--k: inf is not a finite number"},
        {{"-v", "a", "--detector", "hessian", "--k", "1"}, "--k: applies to harris only, not to hessian"},
        {{"-v", "a", "--threshold", "1e-3x"}, "--threshold: '1e-3x' is not a number"},
        {{"-v", "a", "--detector", "dense", "--threshold", "1"},
         "--threshold: dense sampling has no response to threshold"},
        {{"-v", "a", "--detector", "corner"},
         "--detector: unknown detector 'corner' (harris, gabor, hessian, dense, trajectories)"},
        // Trajectories: their own options, refused elsewhere, and none of the points' scales.
        {{"-v", "a", "--detector", "trajectories", "--trajectory-length", "3",
          "--trajectory-stride", "1", "--trajectory-scales", "64", "--descriptors", "mbh,trajectory"}, "run"},
        {{"-v", "a", "--detector", "trajectories", "--trajectory-length", "2"},
         "--trajectory-length: 2 is out of range (3 to 1000)"},
        {{"-v", "a", "--detector", "trajectories", "--trajectory-stride", "0"},
         "--trajectory-stride: 0 is out of range (1 to 1048576)"},
        {{"-v", "a", "--detector", "trajectories", "--trajectory-scales", "x"},
         "--trajectory-scales: 'x' is not a whole number"},
        {{"-v", "a", "--trajectory-length", "15"},
         "--trajectory-length: applies to trajectories only, not to harris"},
        {{"-v", "a", "--detector", "trajectories", "--scales", "4:2"},
         "--scales: trajectories take --trajectory-scales, not variances"},
        {{"-v", "a", "--detector", "trajectories", "--k", "1"},
         "--k: applies to harris only, not to trajectories"},
        {{"-v", "a", "--detector", "trajectories", "--threshold", "1"},
         "--threshold: trajectories have no response to threshold"},
        {{"-v", "a", "--detector", "trajectories", "--descriptors", "hog,sift"},
         "--descriptors: unknown descriptor 'sift' (trajectory, hog, hof, mbh)"},
        // Descriptors.
        {{"-v", "a", "--descriptors", "hog,hof"}, "run"},
        {{"-v", "a", "--descriptors", "hog,hog"}, "--descriptors: 'hog' is given twice"},
        {{"-v", "a", "--descriptors", "hog,"}, "--descriptors: an empty name among them"},
        {{"-v", "a", "--descriptors", "sift"}, "--descriptors: unknown descriptor 'sift' (hog, hof; trajectory and mbh: trajectories only)"},
        {{"-v", "a", "--descriptors", "mbh"},
         "--descriptors: unknown descriptor 'mbh' (hog, hof; trajectory and mbh: trajectories only)"},
        // The memory need's frame size: 1 to 2^20 each way, no video needed.
        {{"--memory-need", "640x480"}, "need 640x480"},
        {{"--memory-need", "1048576x1"}, "need 1048576x1"},
        {{"--memory-need", "1x1048577"}, "--memory-need: 1x1048577 is out of range (1 to 1048576 each)"},
        {{"--memory-need", "0x5"}, "--memory-need: 0x5 is out of range (1 to 1048576 each)"},
        {{"--memory-need", "640by480"}, "--memory-need: '640by480' is not WIDTHxHEIGHT (e.g. 640x480)"},
        {{"--memory-need", "x480"}, "--memory-need: 'x480' is not WIDTHxHEIGHT (e.g. 640x480)"},
        {{"--memory-need", "640x"}, "--memory-need: '640x' is not WIDTHxHEIGHT (e.g. 640x480)"},
        {{"--memory-need", "64x4.8"}, "--memory-need: '4.8' is not a whole number"},
        {{"--memory-need", "64x48", "--detector", "hessian", "--k", "1"},
         "--k: applies to harris only, not to hessian"}};
    // clang-format on
    for (const auto& [args, expected] : cases) {
        DetectSettings settings;
        EXPECT_EQ(outcome(args, settings), expected) << testing::PrintToString(args);
    }
}

TEST(StdetectOptions, ValuesReachTheSettings) {
    DetectSettings settings;
    settings.threads = 3;
    ASSERT_EQ(outcome({"-v", "a.avi", "-o", "-", "-ff", "7", "-lf", "20", "--detector", "gabor",
                       "--scales", "2,8:1.5", "--threshold", "0.25", "--descriptors", "hof"},
                      settings),
              "run");
    EXPECT_EQ(settings.videoFile, "a.avi");
    EXPECT_EQ(settings.outputFile, "-");
    EXPECT_EQ(settings.firstFrame, 7);
    EXPECT_EQ(settings.lastFrame, 20);
    EXPECT_EQ(settings.threads, 3);  // unset: kept
    EXPECT_FALSE(settings.quiet);
    EXPECT_EQ(settings.detector.kind, DetectorKind::Gabor);
    EXPECT_EQ(settings.detector.spatialVariances, (std::vector<double>{2, 8}));
    EXPECT_EQ(settings.detector.temporalVariances, (std::vector<double>{1.5}));
    EXPECT_EQ(settings.detector.threshold, 0.25);
    EXPECT_TRUE(settings.detector.hof && !settings.detector.hog);

    DetectSettings defaults;
    ASSERT_EQ(outcome({"-v", "a", "--threads", "2", "--quiet", "--detector", "hessian"}, defaults),
              "run");
    EXPECT_EQ(defaults.lastFrame, -1);
    EXPECT_EQ(defaults.threads, 2);
    EXPECT_TRUE(defaults.quiet);
    EXPECT_EQ(defaults.detector.threshold, 1e-4);  // the detector's own default
    EXPECT_FALSE(defaults.detector.hog || defaults.detector.hof);
}

}  // namespace
}  // namespace stview
