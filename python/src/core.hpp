#pragma once

// What the Python module calls: conversions between numpy arrays and the library's types,
// the GIL released around the long work, Ctrl-C checked between frames. The binding file
// (module.cpp) only names these.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

namespace stview::python {

namespace py = pybind11;

/// A failure of the operating system or of a file's content that Python reports as OSError.
class SystemFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// (points (N, 7) float64, hog (N, 72) float32 or None, hof (N, 90) float32 or None).
py::tuple readFeatures(const std::string& path);

/// Writes the file stdetect writes, atomically. hog and hof: arrays or None.
void writeFeatures(const std::string& path, const py::array_t<double>& points,
                   const py::object& hog, const py::object& hof, const std::string& command);

}  // namespace stview::python
