#pragma once

// What the Python module calls: conversions between numpy arrays and the library's types,
// the GIL released around the long work, Ctrl-C checked between frames. The binding file
// (module.cpp) only names these.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "detector/detector_options.hpp"
#include "detector/space_time_detector.hpp"
#include "detector/stdetect_options.hpp"

namespace stview::python {

namespace py = pybind11;

/// A failure of the operating system or of a file's content that Python reports as OSError.
class SystemFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// (points (N, 7) float64, blocks): blocks is a list of (name, float32 array (N, width)), the
/// numbers after the seven fields in file order (track, trajectory, hog, hof, mbh as present).
py::tuple readFeatures(const std::string& path);

/// Writes the file stdetect writes, atomically. blocks: (name, float32 (N, width)) pairs.
void writeFeatures(const std::string& path, const py::array_t<double>& points,
                   const py::sequence& blocks, const std::string& command);

/**
 * Draws the points of @p points (N x 7, the file's columns) that stview shows in frame
 * @p frame on @p image (uint8 (H, W, 3), BGR unless @p rgb; rows may be strided, pixels
 * packed), in place, exactly as stview draws them; with @p tracks (N, L + 1, 2) float64 (x, y
 * from the bottom), each point as its track.
 */
void draw(py::array_t<std::uint8_t>& image, const py::array_t<double>& points, int frame, bool rgb,
          const std::optional<py::array_t<double>>& tracks = std::nullopt);

/**
 * Renders as `stview --no-window -o output` does, drawing @p points (N x 7) on the frames
 * [first, last) of @p video (no last: to the end), as their @p tracks when given (as draw
 * takes them), the GIL released; Ctrl-C finishes the
 * output with the frames so far and raises KeyboardInterrupt. @p quality, @p bitrate (text as
 * --bitrate takes it) and @p fps (frames per second, or the input's own rate when
 * @p fpsFromSource) are the viewer's settings, checked as stview checks them. Returns the
 * number of frames written.
 * @throws std::invalid_argument (ValueError) naming the keyword and its value;
 *         SystemFailure with the line the render would print when the output fails.
 */
long render(const std::string& video, const py::array_t<double>& points, const std::string& output,
            long first, std::optional<long> last, std::optional<long long> quality,
            std::optional<std::string> bitrate, double fps, bool fpsFromSource, bool progress,
            const std::optional<py::array_t<double>>& tracks = std::nullopt);

/**
 * Runs stdetect's detection on @p video with the options as data, the GIL released; Ctrl-C
 * raises KeyboardInterrupt between frames. Returns (points, blocks) as readFeatures
 * does.
 * @throws OptionError for a refused option (ValueError naming the keyword).
 */
py::tuple detect(const std::string& video, const DetectorChoice& detector,
                 const DescriptorChoice& descriptors, const FrameRange& frames,
                 std::optional<long> threads, bool progress);

/// SpaceTimeDetector fed with numpy frames; see the package's Detector.
class Detector {
  public:
    /// @p first: the number of the first frame added; @p rgb: 3-channel frames come in RGB
    /// order. @throws OptionError for a refused option.
    Detector(int width, int height, const DetectorChoice& detector,
             const DescriptorChoice& descriptors, long first, std::optional<long> threads,
             bool rgb);
    /// @p frame: C-contiguous uint8 (H, W) or (H, W, 3). Returns the records that became final.
    py::tuple add(const py::array_t<std::uint8_t, py::array::c_style>& frame);
    py::tuple finish();
    int framesAdded() const;

  private:
    class Use;
    DetectSettings settings_;
    std::unique_ptr<SpaceTimeDetector> detector_;
    bool rgb_;
    bool finished_ = false;
    std::atomic<bool> busy_{false};
};

}  // namespace stview::python
