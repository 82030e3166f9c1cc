// The compiled half of the Python package: each function of core.hpp under its Python name,
// with its docstring. The package stview wraps these (argument checks, Features).

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "core.hpp"
#include "detector/detector_options.hpp"
#include "detector/memory.hpp"
#include "features/hdf5/features_hdf5.hpp"

namespace py = pybind11;
namespace sp = stview::python;

PYBIND11_MODULE(_core, m) {
    m.doc() = "stview's compiled core; use the package stview instead.";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const stview::OptionError& e) {
            // Python's keywords are the fields' own names (first, last, k, ...).
            PyErr_SetString(PyExc_ValueError, (e.field() + ": " + e.reason()).c_str());
        } catch (const sp::SystemFailure& e) {
            PyErr_SetString(PyExc_OSError, e.what());
        } catch (const stview::NotEnoughMemory& e) {
            PyErr_SetString(PyExc_MemoryError, e.what());
        }
    });

    m.def("read_features", &sp::readFeatures, py::arg("path"),
          "read_features(path) -> (points, blocks)\n\n"
          "Reads a features file, text or HDF5 (told by content): points (N, 7) float64;\n"
          "blocks a list of (name, float32\n"
          "(N, width)) in file order, as the header names them. Skipped lines go to stderr.");
    m.def(
        "is_hdf5_file", [](const std::string& path) { return stview::isHdf5File(path); },
        py::arg("path"),
        "is_hdf5_file(path) -> bool\n\nTrue when the file starts with HDF5's signature (or holds\n"
        "it after a user block): a features file in HDF5 form.");
    m.def("write_features", &sp::writeFeatures, py::arg("path"), py::arg("points"),
          py::arg("blocks"), py::arg("command"),
          "write_features(path, points, blocks, command)\n\n"
          "Writes points (N, 7) float64 and the blocks, (name, float32 (N, width)) pairs, as\n"
          "the file stdetect writes, under its name only once complete.");
    m.def("draw", &sp::draw, py::arg("image"), py::arg("points"), py::arg("frame"), py::arg("rgb"),
          py::arg("tracks") = py::none(),
          "draw(image, points, frame, rgb, tracks=None)\n\n"
          "Draws the points (N, 7) stview shows in frame `frame` on image, uint8 (H, W, 3),\n"
          "in place, as stview draws them; with tracks (N, L + 1, 2) float64, as tracks.");
    py::class_<stview::DetectorChoice>(m, "DetectorChoice",
                                       "Which detector and its parameters (unset k or "
                                       "threshold: the detector's default).")
        .def(py::init<>())
        .def_readwrite("detector", &stview::DetectorChoice::detector)
        .def_readwrite("spatial_variances", &stview::DetectorChoice::spatialVariances)
        .def_readwrite("temporal_variances", &stview::DetectorChoice::temporalVariances)
        .def_readwrite("k", &stview::DetectorChoice::k)
        .def_readwrite("threshold", &stview::DetectorChoice::threshold)
        .def_readwrite("scales_given", &stview::DetectorChoice::scalesGiven)
        .def_readwrite("trajectory_length", &stview::DetectorChoice::trajectoryLength)
        .def_readwrite("trajectory_stride", &stview::DetectorChoice::trajectoryStride)
        .def_readwrite("trajectory_scales", &stview::DetectorChoice::trajectoryScales);
    py::class_<stview::DescriptorChoice>(m, "DescriptorChoice",
                                         "The descriptors asked for by name; None: the "
                                         "detector's default.")
        .def(py::init<>())
        .def_readwrite("names", &stview::DescriptorChoice::names);
    py::class_<stview::FrameRange>(m, "FrameRange",
                                   "Frames [first, last), zero-based; last None: to the end.")
        .def(py::init<>())
        .def_readwrite("first", &stview::FrameRange::first)
        .def_readwrite("last", &stview::FrameRange::last);
    m.def("render", &sp::render, py::arg("video"), py::arg("points"), py::arg("output"),
          py::arg("first"), py::arg("last"), py::arg("quality"), py::arg("bitrate"), py::arg("fps"),
          py::arg("fps_from_source"), py::arg("progress"), py::arg("tracks") = py::none(),
          "render(video, points, output, first, last, quality, bitrate, fps, fps_from_source,\n"
          "       progress, tracks=None) -> frames written\n\n"
          "Renders as `stview --no-window -o output`, drawing points (N, 7); last, quality and\n"
          "bitrate (text as --bitrate takes it) may be None. Releases the GIL; Ctrl-C finishes\n"
          "the output, then raises.");
    m.def("detect", &sp::detect, py::arg("video"), py::arg("detector"), py::arg("descriptors"),
          py::arg("frames"), py::arg("threads"), py::arg("progress"),
          "detect(video, detector, descriptors, frames, threads, progress) -> (points, blocks)\n\n"
          "Runs stdetect's detection with a DetectorChoice, a DescriptorChoice and a FrameRange\n"
          "(threads None: one per core). Releases the GIL; Ctrl-C raises KeyboardInterrupt\n"
          "between frames.");
    py::class_<sp::Detector>(m, "Detector",
                             "Frame-by-frame detection on numpy frames (see stview.Detector).")
        .def(py::init<int, int, const stview::DetectorChoice&, const stview::DescriptorChoice&,
                      long, std::optional<long>, bool>(),
             py::arg("width"), py::arg("height"), py::arg("detector"), py::arg("descriptors"),
             py::arg("first"), py::arg("threads"), py::arg("rgb"),
             "Detector(width, height, detector, descriptors, first, threads, rgb): a\n"
             "DetectorChoice and a DescriptorChoice, the first frame's number.")
        .def("add", &sp::Detector::add, py::arg("frame"),
             "add(frame) -> (points, blocks): frame uint8 (H, W) or (H, W, 3), C order.")
        .def("finish", &sp::Detector::finish, "finish() -> (points, blocks): the rest.")
        .def_property_readonly("frames_added", &sp::Detector::framesAdded, "Frames added so far.");
}
