#include "core.hpp"

#include <memory>
#include <utility>
#include <vector>

#include "detector/output_file.hpp"
#include "features/feature_columns.hpp"
#include "features/features_file.hpp"

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
    py::object hog = py::none(), hof = py::none();
    if (columns.hasHog) hog = arrayOf(std::move(columns.hog), n, kHogLength);
    if (columns.hasHof) hof = arrayOf(std::move(columns.hof), n, kHofLength);
    return py::make_tuple(arrayOf(std::move(columns.points), n, kFeatureFields), hog, hof);
}

// The rows of a C-contiguous float32 array of @p columns columns, or null for None.
const float* descriptorRows(const py::object& array, std::size_t rows, int columns) {
    if (array.is_none()) return nullptr;
    const auto values = array.cast<py::array_t<float, py::array::c_style>>();
    if (values.ndim() != 2 || static_cast<std::size_t>(values.shape(0)) != rows ||
        values.shape(1) != columns) {
        throw std::invalid_argument("descriptors must be (N, " + std::to_string(columns) + ")");
    }
    return values.data();
}

}  // namespace

py::tuple readFeatures(const std::string& path) {
    FeatureColumns columns;
    {
        py::gil_scoped_release release;
        std::string text;
        if (!readFeaturesText(path, text)) throw SystemFailure("cannot read " + path);
        FeatureParseReport report;
        columns = parseFeatureColumns(text, report);
        reportSkippedLines(path, report);
    }
    return toArrays(std::move(columns));
}

void writeFeatures(const std::string& path, const py::array_t<double>& points,
                   const py::object& hog, const py::object& hof, const std::string& command) {
    const auto table = points.cast<py::array_t<double, py::array::c_style>>();
    if (table.ndim() != 2 || table.shape(1) != kFeatureFields) {
        throw std::invalid_argument("points must be (N, 7)");
    }
    const auto rows = static_cast<std::size_t>(table.shape(0));
    const float* hogRows = descriptorRows(hog, rows, kHogLength);
    const float* hofRows = descriptorRows(hof, rows, kHofLength);
    py::gil_scoped_release release;
    const FeatureList list = featuresFromColumns(table.data(), rows, hogRows, hofRows);
    try {
        OutputFile output(path);
        writeFeatureHeader(output.stream(), command, hogRows != nullptr, hofRows != nullptr);
        stview::writeFeatures(output.stream(), list);
        output.commit();
    } catch (const std::runtime_error& failure) {
        throw SystemFailure(failure.what());
    }
}

}  // namespace stview::python
