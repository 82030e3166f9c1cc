// The compiled half of the Python package: each function of core.hpp under its Python name,
// with its docstring. The package stview wraps these (argument checks, Features).

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "core.hpp"
#include "detector/memory.hpp"

namespace py = pybind11;
namespace sp = stview::python;

PYBIND11_MODULE(_core, m) {
    m.doc() = "stview's compiled core; use the package stview instead.";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const sp::SystemFailure& e) {
            PyErr_SetString(PyExc_OSError, e.what());
        } catch (const stview::NotEnoughMemory& e) {
            PyErr_SetString(PyExc_MemoryError, e.what());
        }
    });

    m.def("read_features", &sp::readFeatures, py::arg("path"),
          "read_features(path) -> (points, hog, hof)\n\n"
          "Parses a features file: points (N, 7) float64; hog (N, 72) and hof (N, 90) float32,\n"
          "or None when the file holds no such columns. Skipped lines are reported on stderr.");
    m.def("write_features", &sp::writeFeatures, py::arg("path"), py::arg("points"), py::arg("hog"),
          py::arg("hof"), py::arg("command"),
          "write_features(path, points, hog, hof, command)\n\n"
          "Writes points (N, 7) float64 and hog (N, 72) / hof (N, 90) float32 (or None) as the\n"
          "file stdetect writes, under its name only once complete.");
    m.def("draw", &sp::draw, py::arg("image"), py::arg("points"), py::arg("frame"), py::arg("rgb"),
          "draw(image, points, frame, rgb)\n\n"
          "Draws the points (N, 7) stview shows in frame `frame` on image, uint8 (H, W, 3),\n"
          "in place, as stview draws them.");
    m.def("render", &sp::render, py::arg("arguments"), py::arg("points"), py::arg("progress"),
          "render(arguments, points, progress) -> frames written\n\n"
          "Renders as `stview --no-window` with stview's options (-v, -o, ...), drawing\n"
          "points (N, 7). Releases the GIL; Ctrl-C finishes the output, then raises.");
    m.def("detect", &sp::detect, py::arg("arguments"),
          "detect(arguments) -> (points, hog, hof)\n\n"
          "Runs stdetect's detection; arguments are stdetect's options (-v video, ...).\n"
          "Releases the GIL; Ctrl-C raises KeyboardInterrupt between frames.");
    py::class_<sp::Detector>(m, "Detector",
                             "Frame-by-frame detection on numpy frames (see stview.Detector).")
        .def(py::init<int, int, const std::vector<std::string>&, bool>(), py::arg("width"),
             py::arg("height"), py::arg("arguments"), py::arg("rgb"),
             "Detector(width, height, arguments, rgb): arguments are stdetect's detector "
             "options.")
        .def("add", &sp::Detector::add, py::arg("frame"),
             "add(frame) -> (points, hog, hof): frame uint8 (H, W) or (H, W, 3), C order.")
        .def("finish", &sp::Detector::finish, "finish() -> (points, hog, hof): the rest.")
        .def_property_readonly("frames_added", &sp::Detector::framesAdded, "Frames added so far.");
}
