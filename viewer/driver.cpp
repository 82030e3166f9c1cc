#include "viewer/driver.hpp"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/highgui.hpp>

#include "features/feature_columns.hpp"
#include "features/features_file.hpp"
#include "features/hdf5/features_hdf5.hpp"
#include "video/video_input.hpp"
#include "viewer/display.hpp"
#include "viewer/feature_index.hpp"
#include "viewer/option_table.hpp"
#include "viewer/player.hpp"
#include "viewer/render.hpp"
#include "viewer/settings.hpp"
#include "viewer/viewed_features.hpp"

namespace stview {

int runViewer(int argc, const char* const* argv) {
    OptionTable options;
    if (options.parse(argc, argv) < 1) {
        printUsage(stdout);
        return kExitOk;
    }
    ViewerSettings settings;
    switch (readSettings(options, settings)) {
        case SettingsOutcome::Usage:
            printUsage(stdout);
            return kExitOk;
        case SettingsOutcome::UsageFailed:
            printUsage(stdout);
            return kExitBadOptions;
        case SettingsOutcome::Run:
            break;
    }
    std::string problem;
    if (!readOutputSettings(options, settings, problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return kExitFailed;
    }
    std::cout << "Input video:   " << settings.videoFile << '\n'
              << "Input features:" << settings.featuresFile << std::endl;

    if (!settings.outputFile.empty() && sameFile(settings.outputFile, settings.videoFile)) {
        std::fprintf(stderr, "The output video %s is the input video; it is left untouched\n",
                     settings.outputFile.c_str());
        return kExitFailed;
    }
    // OpenCV's own warnings (back ends probing a file) would only repeat what
    // the viewer reports itself.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);

    cv::VideoCapture capture;
    const bool opened = openVideo(capture, settings.videoFile, settings.firstFrame);
    const bool window = !settings.noWindow;
    if (window) {
        if (!displayReachable()) {
            std::fprintf(stderr,
                         "No display could be reached to open the \"%s\" window; "
                         "use --no-window to render without one\n",
                         kWindowName);
            return kExitNoDisplay;
        }
        cv::namedWindow(kWindowName, cv::WINDOW_NORMAL);
    }
    FeatureList points;
    FeaturesLoad load = FeaturesLoad::Loaded;
    if (isHdf5File(settings.featuresFile)) {
        // The HDF5 form says in one line what is wrong with a file it refuses.
        try {
            const FeatureColumns columns = readHdf5Features(settings.featuresFile);
            points = featuresFromColumns(columns.points.data(), columns.size());
            attachTracks(points, columns);
        } catch (const std::exception& problem) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s; nothing is played\n", problem.what());
            return kExitFailed;
        }
    } else {
        load = loadViewedFeatures(settings.featuresFile, points);
    }
    if (load != FeaturesLoad::Loaded) {
        // Drawing nothing would look like a video without points: a failure, said as one.
        std::fflush(stdout);
        std::fprintf(stderr,
                     load == FeaturesLoad::Unreadable
                         ? "The features file %s could not be read; nothing is played\n"
                         : "The features file %s holds no point record; nothing is played\n",
                     settings.featuresFile.c_str());
        return kExitFailed;
    }
    std::printf("load %d features from %s\n", static_cast<int>(points.size()),
                settings.featuresFile.c_str());
    std::fflush(stdout);
    if (!opened) return kExitFailed;

    const FeatureIndex features(points, settings.colours);
    const InterruptGuard interrupt;
    OutputVideo output(settings, encoderSettings(capture, settings));
    const int status = window ? playInWindow(capture, features, settings, output, interrupt)
                              : renderVideo(capture, features, settings, output,
                                            [&] { return interrupt.requested(); });
    capture.release();
    return status;
}

}  // namespace stview
