#include "features/hdf5/features_hdf5.hpp"

#include <gtest/gtest.h>
#include <hdf5.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

namespace stview {
namespace {

const std::string kCommand = "stdetect -v clip.avi -o clip.txt";

std::string folder(const std::string& test) {
    const std::string path = testing::TempDir() + "features_hdf5_test/" + test + "/";
    std::filesystem::create_directories(path);
    return path;
}

// Records of @p layout with values a detector could give: whole id, x, y, t, real variances
// and values, descriptors and tracks of many digits.
FeatureColumns randomColumns(const ColumnLayout& layout, std::size_t rows, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    FeatureColumns columns = emptyColumns(layout);
    for (std::size_t i = 0; i < rows; ++i) {
        for (double field :
             {double(i), double(random() % 320), double(random() % 240), double(random() % 900),
              4.0 * (1 + random() % 5), std::ldexp(1.0 + unit(random), 1), unit(random) * 1e-6}) {
            columns.points.push_back(field);
        }
        for (ColumnBlock& block : columns.blocks) {
            for (int k = 0; k < block.shape.width; ++k) {
                const float scale = block.shape.name == "track" ? 320.0f : 1.0f;
                block.values.push_back(unit(random) * scale);
            }
        }
    }
    return columns;
}

std::string text(const FeatureColumns& columns, const std::string& command) {
    std::ostringstream out;
    writeFeatureHeader(out, command, columns.layout());
    writeFeatures(out, featuresFromColumns(columns), columns.layout());
    return out.str();
}

void expectSame(const FeatureColumns& a, const FeatureColumns& b) {
    EXPECT_EQ(a.points, b.points);
    ASSERT_EQ(a.layout(), b.layout());
    for (std::size_t k = 0; k < a.blocks.size(); ++k)
        EXPECT_EQ(a.blocks[k].values, b.blocks[k].values);
}

// Every descriptor set, none and zero records, one row more than a chunk: text -> HDF5 ->
// text gives the same text; records streamed into HDF5 (as stdetect appends them) read back
// exactly; the attributes come back.
TEST(Hdf5Features, RoundTrips) {
    const ColumnLayout layouts[] = {
        {},
        pointDescriptorLayout(true, false),
        pointDescriptorLayout(true, true),
        {{"track", 32}, {"trajectory", 30}, {"hog", 96}, {"hof", 108}, {"mbh", 192}}};
    const std::string path = folder("round") + "round.h5";
    for (const ColumnLayout& layout : layouts) {
        for (const std::size_t rows : {std::size_t{0}, std::size_t{3}, std::size_t{301}}) {
            SCOPED_TRACE(layoutText(layout) + ", " + std::to_string(rows) + " rows");
            const FeatureColumns exact = randomColumns(layout, rows, static_cast<unsigned>(rows));
            FeaturesFileInfo info{kCommand, "harris", "k=0.0005", "clip.avi", 160, 120, 25.0};
            {
                Hdf5FeaturesWriter writer(path, layout, info, {100, 0});
                const FeatureList list = featuresFromColumns(exact);
                for (std::size_t first = 0; first < rows; first += 37) {
                    writer.append(FeatureList(list.begin() + first,
                                              list.begin() + std::min(rows, first + 37)));
                }
                writer.commit();
            }
            FeaturesFileInfo read;
            expectSame(readHdf5Features(path, &read), exact);
            EXPECT_EQ(read.command, kCommand);
            EXPECT_EQ(read.video, "clip.avi");
            EXPECT_EQ(read.width * 1000 + read.height, 160120);
            EXPECT_EQ(read.frameRate, 25.0);

            const std::string original = text(exact, kCommand);
            FeatureParseReport report;
            const FeatureColumns parsed = parseFeatureColumns(original, report);
            writeHdf5Features(path, parsed, {kCommand, "", "", "", 0, 0, 0.0});
            EXPECT_EQ(text(readHdf5Features(path, &read), read.command), original);
            EXPECT_TRUE(read.video.empty());
        }
    }
    // An uncommitted writer (an interrupted run) leaves nothing, not even its temporary file.
    std::filesystem::remove(path);
    { Hdf5FeaturesWriter(path, {}, {}).append(featuresFromColumns(randomColumns({}, 5, 1))); }
    EXPECT_TRUE(std::filesystem::is_empty(folder("round")));
}

// Makes a file with HDF5's own calls: datasets of the given type and shape, an optional
// format_version attribute.
struct Made {
    const char* name;
    hid_t type;
    std::vector<hsize_t> dims;
};
void makeFile(const std::string& path, const std::vector<Made>& sets, int version = 1,
              hsize_t userBlock = 0) {
    const hid_t creation = H5Pcreate(H5P_FILE_CREATE);
    if (userBlock > 0) H5Pset_userblock(creation, userBlock);
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, creation, H5P_DEFAULT);
    for (const Made& set : sets) {
        const hid_t space =
            H5Screate_simple(static_cast<int>(set.dims.size()), set.dims.data(), nullptr);
        const hid_t data =
            H5Dcreate2(file, set.name, set.type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        hsize_t count = 1;
        for (const hsize_t d : set.dims) count *= d;
        const std::vector<double> zeros(count, 0.0);
        H5Dwrite(data, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, zeros.data());
        H5Dclose(data);
        H5Sclose(space);
    }
    const hid_t scalar = H5Screate(H5S_SCALAR);
    const hid_t attribute =
        H5Acreate2(file, "format_version", H5T_STD_I32LE, scalar, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(attribute, H5T_NATIVE_INT, &version);
    H5Aclose(attribute);
    H5Sclose(scalar);
    H5Fclose(file);
    H5Pclose(creation);
}

// The refused files, each with the one line naming it and the problem.
TEST(Hdf5Features, RefusesBadFiles) {
    const std::string path = folder("bad") + "bad.h5";
    const hid_t f64 = H5T_IEEE_F64LE, f32 = H5T_IEEE_F32LE, i32 = H5T_STD_I32LE;
    const auto cut = [&] {
        writeHdf5Features(path, randomColumns(pointDescriptorLayout(true, true), 50, 3), {});
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    };
    const struct {
        std::function<void()> make;
        std::string problem;
    } rows[] = {
        {[&] { std::ofstream(path) << "1 2 3 4 5 6 7\n"; }, "not an HDF5 file"},
        {[&] { std::ofstream(path) << std::string(512, '\0') << kHdf5Signature; },
         "cannot be opened (truncated or damaged)"},
        {cut, "(truncated"},
        {[&] {
             makeFile(path, {{"hog", f32, {4, 72}}});
         },
         "holds no dataset points"},
        {[&] {
             makeFile(path, {{"points", i32, {4, 7}}});
         },
         "points does not hold floating"},
        {[&] {
             makeFile(path, {{"points", f64, {4, 6}}});
         },
         "points is 4 x 6, not N x 7"},
        {[&] {
             makeFile(path, {{"points", f64, {4, 7}}, {"hof", f32, {3, 90}}});
         },
         "hof has 3 rows, points 4"},
        {[&] {
             makeFile(path, {{"points", f64, {4, 7}}, {"hog", f32, {4}}});
         },
         "hog is 4, not N x D"},
        {[&] {
             makeFile(path, {{"points", f64, {4, 7}}, {"tracks", f64, {4, 16, 3}}});
         },
         "tracks is 4 x 16 x 3, not N x (L + 1) x 2"},
        {[&] {
             makeFile(path, {{"points", f64, {4, 7}}}, 2);
         },
         "format version 2 is newer than this reader's 1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.problem);
        row.make();
        try {
            readHdf5Features(path);
            ADD_FAILURE() << "read";
        } catch (const Hdf5FeaturesError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(path + ": ", 0), 0u) << error.what();
            EXPECT_NE(std::string(error.what()).find(row.problem), std::string::npos)
                << error.what();
            EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
        }
    }
    // A user block before the signature: still HDF5, told by content.
    makeFile(path, {{"points", f64, {2, 7}}}, 1, 1024);
    EXPECT_TRUE(isHdf5File(path));
    EXPECT_EQ(readHdf5Features(path).size(), 2u);
    std::ofstream(path) << "# columns: id x y t sigma2 tau2 H\n";
    EXPECT_FALSE(isHdf5File(path));
}

}  // namespace
}  // namespace stview
