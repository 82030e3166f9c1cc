#include "features/hdf5/features_hdf5.hpp"

#include <hdf5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>

namespace stview {
namespace {

// Debian's HDF5 is built without thread safety: every call into it, from any thread of the
// process, is made holding this lock.
std::recursive_mutex& hdf5Mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

using Lock = std::lock_guard<std::recursive_mutex>;

// Failures are reported by return values here, not by HDF5 printing its error stack.
void silenceHdf5() {
    static std::once_flag once;
    std::call_once(once, [] { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); });
}

// An HDF5 identifier, closed with its own function (under the lock its owner holds).
class Handle {
  public:
    Handle() = default;
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    Handle(Handle&& other) noexcept : id_(other.id_), close_(other.close_) { other.id_ = -1; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            id_ = other.id_;
            close_ = other.close_;
            other.id_ = -1;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    hid_t get() const { return id_; }
    explicit operator bool() const { return id_ >= 0; }
    /// Closes now; false when HDF5 reports a failure (a write it could not finish).
    bool reset() {
        const bool closed = id_ < 0 || close_(id_) >= 0;
        id_ = -1;
        return closed;
    }

  private:
    hid_t id_ = -1;
    herr_t (*close_)(hid_t) = nullptr;
};

Handle fileAccess() {
    Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    // File locking fails on NFS and Lustre; HDF5 itself honours the variable when it is set.
    if (access && std::getenv("HDF5_USE_FILE_LOCKING") == nullptr) {
        H5Pset_file_locking(access.get(), 0, 1);
    }
    return access;
}

// The datasets of the blocks, in the order the text holds them.
struct BlockDataset {
    const char* block;
    const char* dataset;
};
constexpr BlockDataset kBlockDatasets[] = {{"track", "tracks"},
                                           {"trajectory", "trajectory"},
                                           {"hog", "hog"},
                                           {"hof", "hof"},
                                           {"mbh", "mbh"}};

const char* datasetOf(const std::string& block) {
    for (const BlockDataset& known : kBlockDatasets) {
        if (block == known.block) return known.dataset;
    }
    return nullptr;
}

std::string pointColumns(const ColumnLayout& layout) {
    const bool track = std::any_of(layout.begin(), layout.end(),
                                   [](const BlockShape& b) { return b.name == "track"; });
    return std::string("id x y t sigma2 tau2 ") + (track ? "value" : "H");
}

// ---- reading ----

class Reader {
  public:
    explicit Reader(const std::string& path) : path_(path) {}

    [[noreturn]] void fail(const std::string& problem) const {
        throw Hdf5FeaturesError(path_ + ": " + problem);
    }

    FeatureColumns read(FeaturesFileInfo* info) {
        {
            std::ifstream probe(path_, std::ios::binary);
            if (!probe) fail(std::string("cannot be read: ") + std::strerror(errno));
        }
        if (!isHdf5File(path_)) fail("not an HDF5 file");
        const Handle access = fileAccess();
        file_ = Handle(H5Fopen(path_.c_str(), H5F_ACC_RDONLY, access.get()), H5Fclose);
        if (!file_) fail("an HDF5 file that cannot be opened (truncated or damaged)");
        checkVersion();
        if (H5Lexists(file_.get(), "points", H5P_DEFAULT) <= 0) fail("holds no dataset points");
        FeatureColumns columns;
        std::vector<hsize_t> dims;
        const Handle points = openFloats("points", dims);
        if (dims.size() != 2 || dims[1] != kFeatureFields) {
            fail("points is " + shapeText(dims) + ", not N x 7");
        }
        rows_ = dims[0];
        columns.points.resize(checkedSize(points, "points", kFeatureFields, sizeof(double)));
        readAll(points, "points", H5T_NATIVE_DOUBLE, columns.points.data());
        for (const BlockDataset& known : kBlockDatasets) {
            if (H5Lexists(file_.get(), known.dataset, H5P_DEFAULT) <= 0) continue;
            const Handle block = openFloats(known.dataset, dims);
            const bool track = std::string(known.block) == "track";
            const std::size_t rank = track ? 3 : 2;
            if (dims.size() != rank || dims[1] == 0 || (track && dims[2] != 2)) {
                fail(std::string(known.dataset) + " is " + shapeText(dims) + ", not " +
                     (track ? "N x (L + 1) x 2" : "N x D"));
            }
            if (dims[0] != rows_) {
                fail(std::string(known.dataset) + " has " + std::to_string(dims[0]) +
                     " rows, points " + std::to_string(rows_));
            }
            if (dims[1] > static_cast<hsize_t>(std::numeric_limits<int>::max() / 2)) {
                fail(std::string(known.dataset) + " is too wide");
            }
            const int width = static_cast<int>(track ? dims[1] * 2 : dims[1]);
            ColumnBlock values{{known.block, width}, {}};
            values.values.resize(checkedSize(block, known.dataset, width, track ? 8 : 4));
            readAll(block, known.dataset, H5T_NATIVE_FLOAT, values.values.data());
            columns.blocks.push_back(std::move(values));
        }
        if (info != nullptr) readInfo(*info);
        return columns;
    }

  private:
    static std::string shapeText(const std::vector<hsize_t>& dims) {
        std::string text;
        for (const hsize_t d : dims) text += (text.empty() ? "" : " x ") + std::to_string(d);
        return dims.empty() ? "a scalar" : text;
    }

    Handle openFloats(const char* name, std::vector<hsize_t>& dims) const {
        H5O_info_t object;
        if (H5Oget_info_by_name(file_.get(), name, &object, H5P_DEFAULT) < 0 ||
            object.type != H5O_TYPE_DATASET) {
            fail(std::string(name) + " is not a dataset");
        }
        Handle dataset(H5Dopen2(file_.get(), name, H5P_DEFAULT), H5Dclose);
        if (!dataset) fail(std::string(name) + " cannot be opened (damaged file)");
        const Handle type(H5Dget_type(dataset.get()), H5Tclose);
        if (!type || H5Tget_class(type.get()) != H5T_FLOAT) {
            fail(std::string(name) + " does not hold floating-point numbers");
        }
        const Handle space(H5Dget_space(dataset.get()), H5Sclose);
        const int rank = space ? H5Sget_simple_extent_ndims(space.get()) : -1;
        if (rank < 0 || rank > 8) fail(std::string(name) + " has an unreadable shape");
        dims.assign(static_cast<std::size_t>(rank), 0);
        if (rank > 0) H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr);
        return dataset;
    }

    // The numbers of a dataset of rows_ rows of @p width, refused when the file cannot hold
    // them: its stored bytes (deflate packs at most about 1000 to 1) bound what it claims.
    std::size_t checkedSize(const Handle& dataset, const char* name, std::size_t width,
                            std::size_t bytes) const {
        const std::size_t limit = std::numeric_limits<std::size_t>::max() / 16 / bytes / width;
        if (rows_ > limit) fail(std::string(name) + " claims too many rows");
        const std::size_t count = static_cast<std::size_t>(rows_) * width;
        const hsize_t stored = H5Dget_storage_size(dataset.get());
        if (count > 0 && static_cast<double>(stored) * 1100.0 < double(count) * double(bytes)) {
            fail(std::string(name) + " claims more numbers than the file holds (truncated?)");
        }
        return count;
    }

    void readAll(const Handle& dataset, const char* name, hid_t memory, void* out) const {
        if (rows_ == 0) return;
        if (H5Dread(dataset.get(), memory, H5S_ALL, H5S_ALL, H5P_DEFAULT, out) < 0) {
            fail(std::string(name) + " cannot be read (truncated or damaged file)");
        }
    }

    void checkVersion() const {
        if (H5Aexists(file_.get(), "format_version") <= 0) return;
        const Handle attribute(H5Aopen(file_.get(), "format_version", H5P_DEFAULT), H5Aclose);
        const Handle type(attribute ? H5Aget_type(attribute.get()) : -1, H5Tclose);
        const Handle space(attribute ? H5Aget_space(attribute.get()) : -1, H5Sclose);
        long long version = 0;
        if (!type || H5Tget_class(type.get()) != H5T_INTEGER || !space ||
            H5Sget_simple_extent_npoints(space.get()) != 1 ||
            H5Aread(attribute.get(), H5T_NATIVE_LLONG, &version) < 0) {
            fail("format_version is not one integer");
        }
        if (version > kFeaturesHdf5Version) {
            fail("format version " + std::to_string(version) + " is newer than this reader's " +
                 std::to_string(kFeaturesHdf5Version) + " (update stview)");
        }
    }

    // An attribute that is not what is expected is left out: the records do not depend on it.
    std::optional<std::string> stringAttribute(const char* name) const {
        if (H5Aexists(file_.get(), name) <= 0) return std::nullopt;
        const Handle attribute(H5Aopen(file_.get(), name, H5P_DEFAULT), H5Aclose);
        const Handle type(attribute ? H5Aget_type(attribute.get()) : -1, H5Tclose);
        const Handle space(attribute ? H5Aget_space(attribute.get()) : -1, H5Sclose);
        if (!type || !space || H5Tget_class(type.get()) != H5T_STRING ||
            H5Sget_simple_extent_npoints(space.get()) != 1) {
            return std::nullopt;
        }
        if (H5Tis_variable_str(type.get()) > 0) {
            const Handle memory(H5Tcopy(H5T_C_S1), H5Tclose);
            H5Tset_size(memory.get(), H5T_VARIABLE);
            H5Tset_cset(memory.get(), H5Tget_cset(type.get()));
            char* text = nullptr;
            if (H5Aread(attribute.get(), memory.get(), &text) < 0 || text == nullptr) {
                return std::nullopt;
            }
            std::string value(text);
            H5free_memory(text);
            return value;
        }
        const std::size_t size = H5Tget_size(type.get());
        if (size == 0 || size > (1u << 20)) return std::nullopt;
        std::string value(size, '\0');
        const Handle memory(H5Tcopy(type.get()), H5Tclose);
        if (H5Aread(attribute.get(), memory.get(), value.data()) < 0) return std::nullopt;
        value.resize(std::strlen(value.c_str()));
        return value;
    }

    template <class T>
    std::vector<T> numberAttribute(const char* name, hid_t memory, H5T_class_t kind) const {
        if (H5Aexists(file_.get(), name) <= 0) return {};
        const Handle attribute(H5Aopen(file_.get(), name, H5P_DEFAULT), H5Aclose);
        const Handle type(attribute ? H5Aget_type(attribute.get()) : -1, H5Tclose);
        const Handle space(attribute ? H5Aget_space(attribute.get()) : -1, H5Sclose);
        const hssize_t count = space ? H5Sget_simple_extent_npoints(space.get()) : -1;
        if (!type || H5Tget_class(type.get()) != kind || count < 1 || count > 16) return {};
        std::vector<T> values(static_cast<std::size_t>(count));
        if (H5Aread(attribute.get(), memory, values.data()) < 0) return {};
        return values;
    }

    void readInfo(FeaturesFileInfo& info) const {
        info = FeaturesFileInfo{};
        info.command = stringAttribute("command").value_or("");
        info.detector = stringAttribute("detector").value_or("");
        info.detectorOptions = stringAttribute("detector_options").value_or("");
        info.video = stringAttribute("video").value_or("");
        const auto size = numberAttribute<int>("frame_size", H5T_NATIVE_INT, H5T_INTEGER);
        if (size.size() == 2) info.width = size[0], info.height = size[1];
        const auto rate = numberAttribute<double>("frame_rate", H5T_NATIVE_DOUBLE, H5T_FLOAT);
        if (rate.size() == 1) info.frameRate = rate[0];
    }

    std::string path_;
    Handle file_;
    hsize_t rows_ = 0;
};

// ---- writing ----

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool isHdf5File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    char bytes[8];
    for (std::streamoff offset = 0; offset + 8 <= size; offset = offset == 0 ? 512 : offset * 2) {
        in.seekg(offset);
        if (!in.read(bytes, 8)) return false;
        if (std::string_view(bytes, 8) == kHdf5Signature) return true;
    }
    return false;
}

FeatureColumns readHdf5Features(const std::string& path, FeaturesFileInfo* info) {
    const Lock lock(hdf5Mutex());
    silenceHdf5();
    return Reader(path).read(info);
}

struct Hdf5FeaturesWriter::State {
    std::string path, temporary;
    ColumnLayout layout;
    std::size_t chunkRows = 4096;
    int deflate = 0;
    bool chunked = false;  // the datasets grow by chunks (once made)
    Handle file;
    Handle points;
    std::vector<Handle> blocks;
    FeatureColumns buffer;  // rows not yet written, in the file's layout
    hsize_t written = 0;    // rows in the file
    bool committed = false;

    FeaturesFileInfo info;

    [[noreturn]] void fail(const std::string& problem) const {
        throw Hdf5FeaturesError("cannot write " + path + ": " + problem);
    }

    void stringAttribute(hid_t object, const char* name, const std::string& value) const {
        const Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(type.get(), H5T_VARIABLE);
        H5Tset_cset(type.get(), H5T_CSET_UTF8);
        const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
        const Handle attribute(
            H5Acreate2(object, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        const char* text = value.c_str();
        if (!attribute || H5Awrite(attribute.get(), type.get(), &text) < 0) {
            fail(std::string("the attribute ") + name);
        }
    }

    void numberAttribute(const char* name, hid_t fileType, hid_t memoryType, hsize_t count,
                         const void* values) const {
        const Handle space(H5Screate_simple(1, &count, nullptr), H5Sclose);
        const Handle attribute(
            H5Acreate2(file.get(), name, fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT),
            H5Aclose);
        if (!attribute || H5Awrite(attribute.get(), memoryType, values) < 0) {
            fail(std::string("the attribute ") + name);
        }
    }

    // A dataset of @p rows rows of @p rowShape: fixed in size and contiguous for a file that
    // fits in one chunk, else chunked and growing.
    Handle dataset(const char* name, hid_t type, std::vector<hsize_t> rowShape, hsize_t rows,
                   const std::string& columns) const {
        std::vector<hsize_t> dims{chunked ? 0 : rows}, most{chunked ? H5S_UNLIMITED : rows};
        std::vector<hsize_t> chunk{chunked ? chunkRows : rows};
        dims.insert(dims.end(), rowShape.begin(), rowShape.end());
        most.insert(most.end(), rowShape.begin(), rowShape.end());
        chunk.insert(chunk.end(), rowShape.begin(), rowShape.end());
        const int rank = static_cast<int>(dims.size());
        const Handle space(H5Screate_simple(rank, dims.data(), most.data()), H5Sclose);
        const Handle creation(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
        if (deflate > 0 && chunk[0] > 0) {  // compression needs chunks
            H5Pset_chunk(creation.get(), rank, chunk.data());
            H5Pset_shuffle(creation.get());
            H5Pset_deflate(creation.get(), static_cast<unsigned>(deflate));
        } else if (chunked) {
            H5Pset_chunk(creation.get(), rank, chunk.data());
        }
        Handle made(H5Dcreate2(file.get(), name, type, space.get(), H5P_DEFAULT, creation.get(),
                               H5P_DEFAULT),
                    H5Dclose);
        if (!made) fail(std::string("the dataset ") + name);
        stringAttribute(made.get(), "columns", columns);
        return made;
    }

    void makeDatasets(hsize_t rows) {
        points = dataset("points", H5T_IEEE_F64LE, {kFeatureFields}, rows, pointColumns(layout));
        for (const BlockShape& block : layout) {
            const bool track = block.name == "track";
            blocks.push_back(dataset(
                datasetOf(block.name), track ? H5T_IEEE_F64LE : H5T_IEEE_F32LE, rowShape(block),
                rows, track ? "x y" : block.name + '[' + std::to_string(block.width) + ']'));
        }
    }

    void writeRows(const Handle& set, hid_t memoryType, const void* values, hsize_t rows,
                   std::vector<hsize_t> rowShape) const {
        std::vector<hsize_t> dims{written + rows}, start{written}, count{rows};
        dims.insert(dims.end(), rowShape.begin(), rowShape.end());
        count.insert(count.end(), rowShape.begin(), rowShape.end());
        start.resize(dims.size(), 0);
        const int rank = static_cast<int>(dims.size());
        if (chunked && H5Dset_extent(set.get(), dims.data()) < 0) fail("cannot extend a dataset");
        const Handle space(H5Dget_space(set.get()), H5Sclose);
        const Handle memory(H5Screate_simple(rank, count.data(), nullptr), H5Sclose);
        if (!space || !memory ||
            H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start.data(), nullptr, count.data(),
                                nullptr) < 0 ||
            H5Dwrite(set.get(), memoryType, memory.get(), space.get(), H5P_DEFAULT, values) < 0) {
            fail(std::string("records (") + std::strerror(errno) + ")");
        }
    }

    // The file's attributes, written last: what made it may be known only at the end.
    void writeAttributes() const {
        const int version = kFeaturesHdf5Version;
        stringAttribute(file.get(), "format", "stview features");
        numberAttribute("format_version", H5T_STD_I32LE, H5T_NATIVE_INT, 1, &version);
        std::string columns = pointColumns(layout);
        if (!layout.empty()) columns += ' ' + layoutText(layout);
        stringAttribute(file.get(), "columns", columns);
        stringAttribute(file.get(), "command", info.command);
        if (!info.detector.empty()) stringAttribute(file.get(), "detector", info.detector);
        if (!info.detectorOptions.empty()) {
            stringAttribute(file.get(), "detector_options", info.detectorOptions);
        }
        if (!info.video.empty()) stringAttribute(file.get(), "video", info.video);
        if (info.width > 0 && info.height > 0) {
            const int size[2] = {info.width, info.height};
            numberAttribute("frame_size", H5T_STD_I32LE, H5T_NATIVE_INT, 2, size);
        }
        if (info.frameRate > 0) {
            numberAttribute("frame_rate", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, 1, &info.frameRate);
        }
    }

    static std::vector<hsize_t> rowShape(const BlockShape& shape) {
        if (shape.name == "track") return {static_cast<hsize_t>(shape.width / 2), 2};
        return {static_cast<hsize_t>(shape.width)};
    }

    // Writes the buffered rows in whole chunks (all of them when @p all).
    void flush(bool all) {
        std::size_t rows = buffer.size();
        if (!all) rows -= rows % chunkRows;
        if (!points) {
            if (rows == 0 && !all) return;
            // The datasets are made when the first chunk is full, or at the end for a file
            // smaller than a chunk (a partly filled chunk takes a whole chunk's room).
            chunked = !all || rows >= chunkRows;
            makeDatasets(rows);
        }
        if (rows == 0) return;
        std::vector<double>& pointRows = buffer.points;
        writeRows(points, H5T_NATIVE_DOUBLE, pointRows.data(), rows, {kFeatureFields});
        pointRows.erase(pointRows.begin(), pointRows.begin() + rows * kFeatureFields);
        for (std::size_t b = 0; b < layout.size(); ++b) {
            std::vector<float>& blockRows = buffer.blocks[b].values;
            writeRows(blocks[b], H5T_NATIVE_FLOAT, blockRows.data(), rows, rowShape(layout[b]));
            const std::size_t width = static_cast<std::size_t>(layout[b].width);
            blockRows.erase(blockRows.begin(), blockRows.begin() + rows * width);
        }
        written += rows;
    }
};

Hdf5FeaturesWriter::Hdf5FeaturesWriter(const std::string& path, const ColumnLayout& layout,
                                       const FeaturesFileInfo& info,
                                       const Hdf5WriteOptions& options)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = path;
    s.layout = layout;
    s.info = info;
    s.chunkRows = std::max<std::size_t>(1, options.chunkRows);
    s.deflate = options.deflate;
    for (const BlockShape& block : layout) {
        if (datasetOf(block.name) == nullptr || block.width <= 0 ||
            (block.name == "track" && (block.width % 2 != 0 || block.width < 4))) {
            throw std::invalid_argument("an HDF5 features file holds no block " + block.name + '[' +
                                        std::to_string(block.width) + ']');
        }
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + base + ".partial-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) s.fail(std::strerror(errno));
    s.temporary = pattern;
    const bool moded = fchmod(fd, newFileMode()) == 0;
    const int cause = errno;
    close(fd);
    if (!moded) {
        std::remove(s.temporary.c_str());
        s.temporary.clear();
        s.fail(std::strerror(cause));
    }
    const Lock lock(hdf5Mutex());
    silenceHdf5();
    try {
        const Handle access = fileAccess();
        s.file = Handle(H5Fcreate(s.temporary.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, access.get()),
                        H5Fclose);
        if (!s.file) s.fail("HDF5 cannot create the file");
        s.buffer = emptyColumns(layout);
    } catch (...) {
        s.blocks.clear();
        s.points.reset();
        s.file.reset();
        std::remove(s.temporary.c_str());
        throw;
    }
}

Hdf5FeaturesWriter::~Hdf5FeaturesWriter() {
    const Lock lock(hdf5Mutex());
    State& s = *state_;
    s.blocks.clear();
    s.points.reset();
    s.file.reset();
    if (!s.committed && !s.temporary.empty()) std::remove(s.temporary.c_str());
}

void Hdf5FeaturesWriter::append(const FeatureList& points) {
    State& s = *state_;
    appendColumns(points, s.buffer);
    const Lock lock(hdf5Mutex());
    s.flush(false);
}

void Hdf5FeaturesWriter::append(const double* points, std::size_t count,
                                const std::vector<BlockView>& blocks) {
    State& s = *state_;
    if (blocks.size() != s.layout.size()) {
        throw std::invalid_argument("the records' blocks are not the file's layout");
    }
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        if (!(blocks[b].shape == s.layout[b])) {
            throw std::invalid_argument("the records' blocks are not the file's layout");
        }
    }
    // At most a chunk's rows are buffered at a time.
    for (std::size_t first = 0; first < count; first += s.chunkRows) {
        const std::size_t rows = std::min(s.chunkRows, count - first);
        s.buffer.points.insert(s.buffer.points.end(), points + first * kFeatureFields,
                               points + (first + rows) * kFeatureFields);
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            const auto width = static_cast<std::size_t>(blocks[b].shape.width);
            std::vector<float>& values = s.buffer.blocks[b].values;
            values.insert(values.end(), blocks[b].values + first * width,
                          blocks[b].values + (first + rows) * width);
        }
        const Lock lock(hdf5Mutex());
        s.flush(false);
    }
}

FeaturesFileInfo& Hdf5FeaturesWriter::info() { return state_->info; }

void Hdf5FeaturesWriter::commit() {
    State& s = *state_;
    const Lock lock(hdf5Mutex());
    s.flush(true);
    s.writeAttributes();
    bool closed = true;
    for (Handle& block : s.blocks) closed = block.reset() && closed;
    closed = s.points.reset() && closed;
    closed = s.file.reset() && closed;
    if (!closed) s.fail(std::string("HDF5 cannot finish the file (") + std::strerror(errno) + ")");
    if (std::rename(s.temporary.c_str(), s.path.c_str()) != 0) {
        s.fail(std::string("cannot rename the finished file: ") + std::strerror(errno));
    }
    s.committed = true;
}

void writeHdf5Features(const std::string& path, const FeatureColumns& columns,
                       const FeaturesFileInfo& info) {
    Hdf5FeaturesWriter writer(path, columns.layout(), info);
    std::vector<BlockView> views;
    for (const ColumnBlock& block : columns.blocks) {
        views.push_back({block.shape, block.values.data()});
    }
    writer.append(columns.points.data(), columns.size(), views);
    writer.commit();
}

}  // namespace stview
