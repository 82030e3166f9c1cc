#include "core.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <utility>
#include <vector>

#include "detector/output_file.hpp"
#include "detector/trajectory_detector.hpp"
#include "detector/video_detection.hpp"
#include "features/feature_columns.hpp"
#include "features/features_file.hpp"
#include "features/hdf5/features_hdf5.hpp"
#include "video/video_input.hpp"
#include "viewer/feature_index.hpp"
#include "viewer/overlay.hpp"
#include "viewer/render.hpp"
#include "viewer/viewed_features.hpp"

namespace stview::python {
namespace {

// A numpy array that owns the vector's storage (no copy).
template <class T>
py::array_t<T> arrayOf(std::vector<T>&& values, std::size_t rows, std::size_t columns) {
    auto* owned = new std::vector<T>(std::move(values));
    py::capsule release(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>({rows, columns}, owned->data(), release);
}

py::tuple toArrays(FeatureColumns&& columns) {
    const std::size_t n = columns.size();
    py::list blocks;
    for (ColumnBlock& block : columns.blocks) {
        const auto width = static_cast<std::size_t>(block.shape.width);
        blocks.append(py::make_tuple(block.shape.name, arrayOf(std::move(block.values), n, width)));
    }
    return py::make_tuple(arrayOf(std::move(columns.points), n, kFeatureFields), blocks);
}

// The blocks of a sequence of (name, C-contiguous float32 array (N, width)) pairs.
std::vector<BlockView> blockViews(const py::sequence& blocks, std::size_t rows,
                                  std::vector<py::array_t<float, py::array::c_style>>& keep) {
    std::vector<BlockView> views;
    for (const py::handle item : blocks) {
        const auto pair = item.cast<py::tuple>();
        const auto name = pair[0].cast<std::string>();
        keep.push_back(pair[1].cast<py::array_t<float, py::array::c_style>>());
        const auto& values = keep.back();
        if (values.ndim() != 2 || static_cast<std::size_t>(values.shape(0)) != rows ||
            values.shape(1) <= 0) {
            throw std::invalid_argument(name + " must be (N, width) with a row per point");
        }
        views.push_back({{name, static_cast<int>(values.shape(1))}, values.data()});
    }
    return views;
}

// A C-contiguous (N, 7) float64 table of points.
py::array_t<double, py::array::c_style> pointTable(const py::array_t<double>& points) {
    const auto table = points.cast<py::array_t<double, py::array::c_style>>();
    if (table.ndim() != 2 || table.shape(1) != kFeatureFields) {
        throw std::invalid_argument("points must be (N, 7)");
    }
    return table;
}

// The tracks (N, L + 1, 2) float64 of N points, C-contiguous; none when not given.
std::optional<py::array_t<double, py::array::c_style>> tracksOf(
    const std::optional<py::array_t<double>>& tracks, std::size_t rows) {
    if (!tracks) return std::nullopt;
    auto table = tracks->cast<py::array_t<double, py::array::c_style>>();
    if (table.ndim() != 3 || static_cast<std::size_t>(table.shape(0)) != rows ||
        table.shape(1) < 1 || table.shape(2) != 2) {
        throw std::invalid_argument("tracks must be (N, L + 1, 2) with a row per point");
    }
    return table;
}

// The settings of a detection from the options as data, checked as stdetect checks them.
DetectSettings detectSettings(const std::string& video, const DetectorChoice& detector,
                              const DescriptorChoice& descriptors, const FrameRange& frames,
                              std::optional<long> threads) {
    DetectSettings settings;
    settings.videoFile = video;
    applyDetectOptions(detector, descriptors, frames, threads, settings);
    return settings;
}

std::string numberText(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// OpenCV's thread count for one call (one per core unless a count is given), then back.
class ThreadCount {
  public:
    explicit ThreadCount(int threads) : previous_(cv::getNumThreads()) {
        cv::setNumThreads(threads > 0 ? threads : cv::getNumberOfCPUs());
    }
    ~ThreadCount() { cv::setNumThreads(previous_); }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;

  private:
    int previous_;
};

// Between frames, with the GIL taken back for a moment: a pending Ctrl-C (or another
// signal whose handler raises) becomes the Python exception, thrown through the C++ work.
bool checkSignals() {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    return false;
}

// The blocks a detection with these options attaches to its records.
FeatureColumns emptyColumns(const DetectorOptions& options) {
    return stview::emptyColumns(detectorLayout(options));
}

}  // namespace

py::tuple readFeatures(const std::string& path) {
    FeatureColumns columns;
    {
        py::gil_scoped_release release;
        if (isHdf5File(path)) {
            try {
                columns = readHdf5Features(path);
            } catch (const Hdf5FeaturesError& refused) {
                throw std::invalid_argument(refused.what());
            }
        } else {
            std::string text;
            if (!readFeaturesText(path, text)) throw SystemFailure("cannot read " + path);
            FeatureParseReport report;
            columns = parseFeatureColumns(text, report);
            reportSkippedLines(path, report);
        }
    }
    return toArrays(std::move(columns));
}

void writeFeatures(const std::string& path, const py::array_t<double>& points,
                   const py::sequence& blocks, const std::string& command) {
    const auto table = pointTable(points);
    const auto rows = static_cast<std::size_t>(table.shape(0));
    std::vector<py::array_t<float, py::array::c_style>> keep;
    const std::vector<BlockView> views = blockViews(blocks, rows, keep);
    ColumnLayout layout;
    for (const BlockView& view : views) layout.push_back(view.shape);
    py::gil_scoped_release release;
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".h5") == 0) {
        featuresFromColumns(table.data(), rows);  // refuses what the text could not hold
        try {
            FeaturesFileInfo info;
            info.command = command;
            Hdf5FeaturesWriter writer(path, layout, info);
            writer.append(table.data(), rows, views);
            writer.commit();
        } catch (const Hdf5FeaturesError& failure) {
            throw SystemFailure(failure.what());
        }
        return;
    }
    const FeatureList list = featuresFromColumns(table.data(), rows, views);
    try {
        OutputFile output(path);
        writeFeatureHeader(output.stream(), command, layout);
        stview::writeFeatures(output.stream(), list, layout);
        output.commit();
    } catch (const std::runtime_error& failure) {
        throw SystemFailure(failure.what());
    }
}

void draw(py::array_t<std::uint8_t>& image, const py::array_t<double>& points, int frame, bool rgb,
          const std::optional<py::array_t<double>>& tracks) {
    if (image.ndim() != 3 || image.shape(2) != 3 || image.strides(2) != 1 ||
        image.strides(1) != 3 || image.strides(0) < 3 * image.shape(1)) {
        throw std::invalid_argument("image must be uint8 (H, W, 3) with packed pixels");
    }
    const auto table = pointTable(points);
    const auto rows = static_cast<std::size_t>(table.shape(0));
    const auto trackTable = tracksOf(tracks, rows);
    const std::size_t length = trackTable ? static_cast<std::size_t>(trackTable->shape(1)) : 0;
    cv::Mat canvas(static_cast<int>(image.shape(0)), static_cast<int>(image.shape(1)), CV_8UC3,
                   image.mutable_data(), static_cast<std::size_t>(image.strides(0)));
    py::gil_scoped_release release;
    // The points near the frame (a margin wider than stview's test, or than a track's
    // frames), then stview's own test and drawing on those.
    std::vector<double> near, nearTracks;
    for (std::size_t i = 0; i < rows; ++i) {
        const double* row = table.data() + i * kFeatureFields;
        const double reach = length > 0 ? static_cast<double>(length) : std::sqrt(row[5]) + 1;
        if (std::fabs(frame - row[3]) < reach) {
            near.insert(near.end(), row, row + 7);
            if (length > 0) {
                const double* track = trackTable->data() + i * 2 * length;
                nearTracks.insert(nearTracks.end(), track, track + 2 * length);
            }
        }
    }
    if (near.empty()) return;
    FeatureList visible = featuresFromColumns(near.data(), near.size() / kFeatureFields);
    if (length > 0) attachTracks(visible, nearTracks.data(), length);
    // stview draws yellow in BGR order: an RGB image is drawn on with its channels swapped.
    if (rgb) cv::cvtColor(canvas, canvas, cv::COLOR_RGB2BGR);
    drawFeatures(visible, canvas, frame);
    if (rgb) cv::cvtColor(canvas, canvas, cv::COLOR_BGR2RGB);
}

long render(const std::string& video, const py::array_t<double>& points, const std::string& output,
            long first, std::optional<long> last, std::optional<long long> quality,
            std::optional<std::string> bitrate, double fps, bool fpsFromSource, bool progress,
            const std::optional<py::array_t<double>>& tracks) {
    validateFrameRange({first, last});
    ViewerSettings settings;
    settings.videoFile = video;
    settings.outputFile = output;
    settings.noWindow = true;
    settings.firstFrame = static_cast<int>(first);
    if (last) settings.lastFrame = static_cast<int>(*last);
    if (quality) {  // beyond int: off every scale, as stview reads such a --quality
        settings.quality =
            *quality >= INT_MIN && *quality <= INT_MAX ? static_cast<int>(*quality) : -1;
    }
    if (bitrate) settings.bitRate = parseBitRate(*bitrate);
    if (!fpsFromSource) settings.fps = fps;  // else the fallback when the input names none
    settings.fpsFromSource = fpsFromSource;
    if (const std::optional<SettingProblem> refused = checkOutputSettings(settings)) {
        // Python's keywords are the settings' own names; the value as it was given.
        const std::string& field = refused->field;
        const std::string value = field == "output"    ? output
                                  : field == "quality" ? std::to_string(*quality)
                                  : field == "bitrate" ? *bitrate
                                                       : numberText(fps);
        throw std::invalid_argument(field + " " + value + ": " + refused->reason);
    }
    if (sameFile(settings.outputFile, settings.videoFile)) {
        throw std::invalid_argument("output: " + settings.outputFile +
                                    " is the input video; left untouched");
    }
    const auto table = pointTable(points);
    const auto trackTable = tracksOf(tracks, static_cast<std::size_t>(table.shape(0)));
    std::unique_ptr<py::error_already_set> interrupted;
    std::string reported;  // the line stview would print on standard error
    long written = 0;
    {
        py::gil_scoped_release release;
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
        FeatureList list =
            featuresFromColumns(table.data(), static_cast<std::size_t>(table.shape(0)));
        if (trackTable) {
            attachTracks(list, trackTable->data(), static_cast<std::size_t>(trackTable->shape(1)));
        }
        const FeatureIndex index(list);
        cv::VideoCapture capture;
        if (!openVideo(capture, settings.videoFile, settings.firstFrame, stderr)) {
            throw SystemFailure("could not open the video " + settings.videoFile);
        }
        OutputVideo output(settings, encoderSettings(capture, settings),
                           [&reported](const std::string& line) { reported = line; });
        // Ctrl-C is taken as a stop, so that the output is finished before it is raised.
        const auto stop = [&interrupted] {
            py::gil_scoped_acquire gil;
            if (PyErr_CheckSignals() == 0) return false;
            interrupted = std::make_unique<py::error_already_set>();
            return true;
        };
        const int status = renderVideo(capture, index, settings, output, stop, progress);
        written = output.framesWritten();
        if (status == kExitFailed) {
            throw SystemFailure(reported.empty() ? "could not render " + settings.videoFile +
                                                       " to " + settings.outputFile
                                                 : reported);
        }
    }
    if (interrupted) {
        if (!reported.empty()) std::fprintf(stderr, "%s\n", reported.c_str());
        throw *interrupted;
    }
    return written;
}

py::tuple detect(const std::string& video, const DetectorChoice& detector,
                 const DescriptorChoice& descriptors, const FrameRange& frames,
                 std::optional<long> threads, bool progress) {
    DetectSettings settings = detectSettings(video, detector, descriptors, frames, threads);
    settings.quiet = !progress;
    FeatureColumns columns = emptyColumns(settings.detector);
    {
        py::gil_scoped_release release;
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
        const ThreadCount threadCount(settings.threads);
        DetectionSteps steps;
        steps.take = [&](FeatureList& points) { appendColumns(points, columns); };
        steps.stop = checkSignals;
        try {
            detectVideo(settings, steps);
        } catch (const VideoFailure& failure) {
            throw SystemFailure(failure.what());
        }
    }
    return toArrays(std::move(columns));
}

// One call at a time on a Detector: a second, concurrent one is refused, never interleaved.
class Detector::Use {
  public:
    explicit Use(Detector& detector) : busy_(detector.busy_) {
        if (busy_.exchange(true)) {
            throw std::runtime_error("this Detector is in use by another thread");
        }
        if (detector.finished_) {
            busy_ = false;
            throw std::runtime_error("Detector: no frame can be added after finish()");
        }
    }
    ~Use() { busy_ = false; }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

  private:
    std::atomic<bool>& busy_;
};

Detector::Detector(int width, int height, const DetectorChoice& detector,
                   const DescriptorChoice& descriptors, long first, std::optional<long> threads,
                   bool rgb)
    : settings_(detectSettings("", detector, descriptors, {first, std::nullopt}, threads)),
      rgb_(rgb) {
    detector_ = std::make_unique<SpaceTimeDetector>(cv::Size(width, height), settings_.detector,
                                                    settings_.firstFrame);
}

py::tuple Detector::add(const py::array_t<std::uint8_t, py::array::c_style>& frame) {
    const Use use(*this);
    const int channels = frame.ndim() == 3 ? static_cast<int>(frame.shape(2)) : 1;
    if (frame.ndim() < 2 || frame.ndim() > 3 || (channels != 1 && channels != 3)) {
        throw std::invalid_argument("a frame is uint8 (H, W) or (H, W, 3)");
    }
    const cv::Mat image(static_cast<int>(frame.shape(0)), static_cast<int>(frame.shape(1)),
                        CV_8UC(channels), const_cast<std::uint8_t*>(frame.data()));
    FeatureColumns columns = emptyColumns(settings_.detector);
    {
        py::gil_scoped_release release;
        const ThreadCount threads(settings_.threads);
        FeatureList points;
        if (rgb_ && channels == 3) {
            cv::Mat grey;  // the grey of the same pixels in BGR order
            cv::cvtColor(image, grey, cv::COLOR_RGB2GRAY);
            detector_->addFrame(grey, points);
        } else {
            detector_->addFrame(image, points);
        }
        appendColumns(points, columns);
    }
    return toArrays(std::move(columns));
}

py::tuple Detector::finish() {
    const Use use(*this);
    FeatureColumns columns = emptyColumns(settings_.detector);
    {
        py::gil_scoped_release release;
        const ThreadCount threads(settings_.threads);
        FeatureList points;
        detector_->finish(points);
        appendColumns(points, columns);
    }
    finished_ = true;
    return toArrays(std::move(columns));
}

int Detector::framesAdded() const { return detector_->framesAdded(); }

}  // namespace stview::python
