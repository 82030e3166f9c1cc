// Fuzz target for FrameBuffer: the bytes are a sequence of operations on a small buffer
// (1..6 slots, frames up to 8 x 8). A plain model of the slots (contents, frame numbers, the
// slot written last) predicts the result of every operation, or the exception class of a
// refusal; anything else, or any sanitizer report, aborts.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <streambuf>
#include <vector>

#include <opencv2/core.hpp>

#include "spacetime/frame_buffer.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    (void)what;  // visible in the stack trace of the abort
    std::abort();
}

class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

enum class Outcome { Ok, InvalidArgument, OutOfRange, Length, Logic };

// Runs op and returns the class of what it threw; anything not documented escapes.
template <typename Op>
Outcome run(Op&& op) {
    try {
        op();
    } catch (const std::invalid_argument&) {
        return Outcome::InvalidArgument;
    } catch (const std::out_of_range&) {
        return Outcome::OutOfRange;
    } catch (const std::length_error&) {
        return Outcome::Length;
    } catch (const std::logic_error&) {
        return Outcome::Logic;
    }
    return Outcome::Ok;
}

void expect(Outcome got, Outcome want, const char* what) {
    if (got != want) fail(what);
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Model {
    int length = 0;  // slot count set so far
    bool stored = false;
    int width = 0, height = 0, head = 0;
    std::vector<std::vector<float>> frames;  // per slot, row-major
    std::vector<int> labels;                 // frame number per slot

    int findSlot(int f) const {
        for (std::size_t s = 0; s < labels.size(); ++s)
            if (labels[s] == f) return static_cast<int>(s);
        return -1;
    }
    int slotOfAge(int age) const { return ((head - age) % length + length) % length; }
    int minLabel() const { return *std::min_element(labels.begin(), labels.end()); }
    int maxLabel() const { return *std::max_element(labels.begin(), labels.end()); }
    float at(int slot, int row, int col) const {
        return frames[static_cast<std::size_t>(slot)][static_cast<std::size_t>(row * width + col)];
    }
};

float pickValue(FuzzedDataProvider& in) {
    static const float palette[] = {0.0f,
                                    1.0f,
                                    -1.0f,
                                    2.0f,
                                    0.5f,
                                    3.0f,
                                    -0.0f,
                                    std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(),
                                    std::numeric_limits<float>::max(),
                                    std::numeric_limits<float>::denorm_min()};
    const std::uint8_t b = in.ConsumeIntegral<std::uint8_t>();
    if (b < 240) return palette[b % (sizeof palette / sizeof palette[0])];
    return in.ConsumeFloatingPoint<float>();
}

int pickInt(FuzzedDataProvider& in, int low, int high) {
    static const int extremes[] = {INT_MIN, INT_MIN + 1, -1000000, 1000000, INT_MAX - 1, INT_MAX};
    const std::uint8_t b = in.ConsumeIntegral<std::uint8_t>();
    if (b < 232) return low + b % (high - low + 1);
    return extremes[b % 6];
}

// Fills an image with the values of `flat` (row-major h x w) in a shape chosen by `kind`.
cv::Mat makeImage(int kind, int rows, int cols, const std::vector<float>& flat, cv::Mat& backing) {
    cv::Mat dense(rows, cols, CV_32FC1);
    std::memcpy(dense.ptr<float>(), flat.data(), flat.size() * sizeof(float));
    switch (kind) {
        case 1: {  // a region of a larger matrix: not continuous
            backing = cv::Mat(rows + 1, cols + 2, CV_32FC1, cv::Scalar(-7.0));
            cv::Mat roi = backing(cv::Rect(1, 1, cols, rows));
            dense.copyTo(roi);
            return roi;
        }
        case 2:  // same elements, one row
            return dense.reshape(1, 1);
        default:
            return dense;
    }
}

struct Fuzz {
    FuzzedDataProvider in;
    stview::FrameBuffer buffer;
    Model model;

    Fuzz(const std::uint8_t* data, std::size_t size, int n) : in(data, size), buffer(n) {
        model.length = n;
    }

    void checkUnchanged() {
        if (!model.stored) return;
        for (int s = 0; s < model.length; ++s)
            if (buffer.Ring().FrameAt(s) != model.labels[static_cast<std::size_t>(s)])
                fail("frame numbers differ from the model");
        if (buffer.Ring().Head() != model.head) fail("head differs from the model");
        if (buffer.Width() != model.width || buffer.Height() != model.height)
            fail("size differs from the model");
    }

    void add(bool numbered) {
        const int frameNumber = pickInt(in, -3, 20);
        int rows = in.ConsumeIntegralInRange(1, 8);
        int cols = in.ConsumeIntegralInRange(1, 8);
        if (model.stored && in.ConsumeIntegralInRange(0, 3) != 0) {
            rows = model.height;  // mostly the right size
            cols = model.width;
        }
        std::vector<float> flat(static_cast<std::size_t>(rows * cols));
        for (float& v : flat) v = pickValue(in);
        const int kind = in.ConsumeIntegralInRange(0, 7);
        cv::Mat backing;
        cv::Mat image;
        bool valid = true;
        if (kind <= 2) {
            image = makeImage(kind, rows, cols, flat, backing);
        } else if (kind == 3) {
            image = cv::Mat(rows, cols, CV_64FC1, cv::Scalar(1.0));
            valid = false;
        } else if (kind == 4) {
            image = cv::Mat(rows, cols, CV_32FC2, cv::Scalar(1.0));
            valid = false;
        } else if (kind == 5) {
            image = cv::Mat(0, 0, CV_32FC1);
            valid = false;
        } else if (kind == 6) {
            const int sizes[] = {1, rows, cols};
            image = cv::Mat(3, sizes, CV_32FC1, cv::Scalar(1.0));
            valid = false;
        } else {
            image = cv::Mat(rows, cols, CV_8UC1, cv::Scalar(1));
            valid = false;
        }
        if (model.stored && valid && rows * cols != model.width * model.height) valid = false;
        const int firstRows = kind == 2 ? 1 : rows;
        const int firstCols = kind == 2 ? rows * cols : cols;

        Outcome want = Outcome::Ok;
        if (!valid)
            want = Outcome::InvalidArgument;
        else if (!model.stored && model.length < 1)
            want = Outcome::Length;
        else if (model.stored && !numbered &&
                 model.labels[static_cast<std::size_t>(model.head)] == INT_MAX)
            want = Outcome::OutOfRange;
        const Outcome got = run([&] {
            if (numbered)
                buffer.AddFrameNumbered(image, frameNumber);
            else
                buffer.AddFrame(image);
        });
        expect(got, want, "add: outcome differs from the model");
        if (got == Outcome::Ok) {
            if (!model.stored) {
                model.stored = true;
                model.width = firstCols;
                model.height = firstRows;
                model.frames.assign(static_cast<std::size_t>(model.length),
                                    std::vector<float>(flat.size(), 0.0f));
                model.labels.assign(static_cast<std::size_t>(model.length),
                                    numbered ? frameNumber : 0);
                model.head = 0;
                model.frames[0] = flat;
            } else {
                const int number =
                    numbered ? frameNumber : model.labels[static_cast<std::size_t>(model.head)] + 1;
                model.head = (model.head + 1) % model.length;
                model.labels[static_cast<std::size_t>(model.head)] = number;
                model.frames[static_cast<std::size_t>(model.head)] = flat;
            }
        }
        checkUnchanged();
    }

    void setLength() {
        const int n = in.ConsumeIntegralInRange(-1, 6);
        const Outcome got = run([&] { buffer.SetLength(n); });
        expect(got, model.stored ? Outcome::Logic : Outcome::Ok, "SetLength: outcome");
        if (!model.stored) model.length = n;
        if (buffer.Length() != model.length) fail("Length differs from the model");
    }

    void checkFrame(const cv::Mat& image, int slot) {
        if (image.type() != CV_32FC1 || image.rows != model.height || image.cols != model.width)
            fail("frame copy has the wrong shape");
        for (int r = 0; r < model.height; ++r)
            for (int c = 0; c < model.width; ++c)
                if (!sameBits(image.at<float>(r, c), model.at(slot, r, c)))
                    fail("frame copy differs from the stored frame");
    }

    cv::Mat makeFrameOutput() {
        switch (in.ConsumeIntegralInRange(0, 2)) {
            case 1:
                return cv::Mat(std::max(model.height, 1) + 1, std::max(model.width, 1) + 3,
                               CV_32FC1, cv::Scalar(5.0))(
                    cv::Rect(2, 1, std::max(model.width, 1), std::max(model.height, 1)));
            case 2:
                return cv::Mat(2, 3, CV_8UC1, cv::Scalar(9));
            default:
                return cv::Mat();
        }
    }

    void getFrameAtSlot() {
        const int slot = pickInt(in, -1, 6);
        cv::Mat image = makeFrameOutput();
        const int got = buffer.GetFrameAtSlot(slot, image);
        const bool ok = model.stored && slot >= 0 && slot < model.length;
        if (got != (ok ? 0 : -1)) fail("GetFrameAtSlot: status");
        if (ok) checkFrame(image, slot);
    }

    void getFrame() {
        const int f = pickInt(in, -3, 20);
        cv::Mat image = makeFrameOutput();
        const int got = buffer.GetFrame(f, image);
        const int slot = model.stored ? model.findSlot(f) : -1;
        if (got != (slot >= 0 ? 0 : -1)) fail("GetFrame: status");
        if (slot >= 0) checkFrame(image, slot);
    }

    // An output for the region copies, with room for `need` elements or not, filled with a
    // marker so that untouched elements can be recognised.
    cv::Mat makeRegionOutput() {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 1:
                return cv::Mat(1, in.ConsumeIntegralInRange(1, 600), CV_64FC1, cv::Scalar(-42.0));
            case 2:
                return cv::Mat(4, 8, CV_64FC1, cv::Scalar(-42.0))(cv::Rect(1, 1, 3, 2));
            case 3:
                return cv::Mat(3, 3, CV_32FC1, cv::Scalar(-42.0));
            default:
                return cv::Mat();
        }
    }

    // Checks a region copy: `expected` from the first element, the rest untouched when the
    // output kept its buffer.
    static void checkRegion(const cv::Mat& before, const cv::Mat& out,
                            const std::vector<float>& expected) {
        if (expected.empty()) {
            if (out.data != before.data) fail("an empty box replaced the output");
            return;
        }
        if (out.type() != CV_64FC1 || !out.isContinuous() || out.total() < expected.size())
            fail("region output has the wrong shape");
        const bool kept = out.data == before.data;
        if (!kept && (out.rows != 1 || out.total() != expected.size()))
            fail("a new region output is not 1 x N");
        const double* d = out.ptr<double>();
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const double want = static_cast<double>(expected[i]);
            if (!(d[i] == want || (std::isnan(d[i]) && std::isnan(want))))
                fail("region element differs from the model");
        }
        for (std::size_t i = expected.size(); kept && i < out.total(); ++i)
            if (d[i] != -42.0) fail("region wrote past the box");
    }

    static void checkUntouched(const cv::Mat& before, const cv::Mat& copy, const cv::Mat& out) {
        if (out.data != before.data) fail("a refused region replaced the output");
        if (!before.empty() && cv::norm(copy, out, cv::NORM_INF) != 0.0)
            fail("a refused region wrote to the output");
    }

    void getRegion() {
        int v[6];
        for (int& x : v) x = pickInt(in, -3, 10);
        const int x0 = v[0], y0 = v[1], t0 = v[2], x1 = v[3], y1 = v[4], t1 = v[5];
        const std::int64_t nx = std::int64_t{x1} - x0 + 1, ny = std::int64_t{y1} - y0 + 1,
                           nt = std::int64_t{t1} - t0 + 1;
        Outcome want = Outcome::Ok;
        std::vector<float> expected;
        if (!model.stored) {
            want = Outcome::Logic;
        } else if (nx < 0 || ny < 0 || nt < 0) {
            want = Outcome::Length;
        } else if (nx == 0 || ny == 0 || nt == 0) {
            want = Outcome::Ok;
        } else if (static_cast<double>(nx) * static_cast<double>(ny) * static_cast<double>(nt) >
                   INT32_MAX) {  // exact enough: each extent is below 2^33
            want = Outcome::Length;
        } else if (nx * ny * nt > 4096) {
            return;  // a valid but huge box: not what this target is about
        } else {
            const auto clamp = [](std::int64_t a, int lo, int hi) {
                return static_cast<int>(a < lo ? lo : (a > hi ? hi : a));
            };
            for (std::int64_t i = 0; i < nt && want == Outcome::Ok; ++i) {
                const int slot = model.findSlot(clamp(t0 + i, model.minLabel(), model.maxLabel()));
                if (slot < 0) {
                    want = Outcome::OutOfRange;
                    break;
                }
                for (std::int64_t j = 0; j < ny; ++j)
                    for (std::int64_t k = 0; k < nx; ++k)
                        expected.push_back(model.at(slot, clamp(y0 + j, 0, model.height - 1),
                                                    clamp(x0 + k, 0, model.width - 1)));
            }
        }
        cv::Mat out = makeRegionOutput();
        const cv::Mat before = out;
        const cv::Mat copy = out.clone();
        const Outcome got = run([&] { buffer.GetRegion(x0, y0, t0, x1, y1, t1, out); });
        expect(got, want, "GetRegion: outcome differs from the model");
        if (got == Outcome::Ok)
            checkRegion(before, out, expected);
        else
            checkUntouched(before, copy, out);
    }

    void getLocalRegion() {
        const int row = pickInt(in, -2, 9), column = pickInt(in, -2, 9);
        const int frame = pickInt(in, -3, 20);
        const int rows = pickInt(in, -1, 9), columns = pickInt(in, -1, 9);
        int frames = pickInt(in, -1, 7);
        if (frames > 16) frames = 16;  // one diagnostic line per frame
        Outcome want = Outcome::Ok;
        std::vector<float> expected;
        if (!model.stored) {
            want = Outcome::Logic;
        } else if (rows > 0 && columns > 0 && frames > 0) {
            const std::int64_t top = std::int64_t{row} - rows / 2;
            const std::int64_t left = std::int64_t{column} - columns / 2;
            const std::int64_t first = std::int64_t{frame} - frames / 2;
            if (top < 0 || left < 0 || top + rows > model.height || left + columns > model.width)
                want = Outcome::OutOfRange;
            for (int i = 0; i < frames && want == Outcome::Ok; ++i) {
                const std::int64_t f = first + i;
                const int slot =
                    (f < INT_MIN || f > INT_MAX) ? -1 : model.findSlot(static_cast<int>(f));
                if (slot < 0) {
                    want = Outcome::OutOfRange;
                    break;
                }
                for (int k = 0; k < columns; ++k)
                    for (int j = 0; j < rows; ++j)
                        expected.push_back(
                            model.at(slot, static_cast<int>(top) + j, static_cast<int>(left) + k));
            }
        }
        cv::Mat out = makeRegionOutput();
        const cv::Mat before = out;
        const cv::Mat copy = out.clone();
        const Outcome got =
            run([&] { buffer.GetLocalRegion(row, column, frame, rows, columns, frames, out); });
        expect(got, want, "GetLocalRegion: outcome differs from the model");
        if (got == Outcome::Ok)
            checkRegion(before, out, expected);
        else
            checkUntouched(before, copy, out);
    }

    void convolve() {
        std::vector<double> kernel(in.ConsumeIntegralInRange<std::size_t>(0, 12));
        for (double& k : kernel) {
            const std::uint8_t b = in.ConsumeIntegral<std::uint8_t>();
            if (b < 200)
                k = static_cast<double>(pickValue(in));
            else if (b < 220)
                k = (b & 1) ? 1e300 : -1e-300;
            else
                k = in.ConsumeFloatingPoint<double>();
        }
        cv::Mat out;
        const int shape = in.ConsumeIntegralInRange(0, 3);
        const int pixels = model.width * model.height;
        if (model.stored && shape == 1) out = cv::Mat(1, pixels, CV_32FC1, cv::Scalar(3.0));
        if (model.stored && shape == 2)
            out = cv::Mat(model.height + 2, model.width + 1,
                          CV_32FC1)(cv::Rect(1, 1, model.width, model.height));
        if (shape == 3) out = cv::Mat(2, 2, CV_64FC1);
        const cv::Mat before = out;
        const bool keeps = model.stored && (shape == 1 || shape == 2);

        int centre = 0;
        const Outcome got = run([&] { centre = buffer.ConvolveTime(out, kernel); });
        expect(got, model.stored ? Outcome::Ok : Outcome::Logic, "ConvolveTime: outcome");
        if (got != Outcome::Ok) return;

        const int e = static_cast<int>(std::ceil(static_cast<double>(kernel.size()) * 0.5)) - 1;
        if (centre != model.labels[static_cast<std::size_t>(model.slotOfAge(e))])
            fail("ConvolveTime: returned frame number");
        if (out.type() != CV_32FC1 || out.total() != static_cast<std::size_t>(pixels))
            fail("ConvolveTime: output shape");
        if (keeps && out.data != before.data) fail("ConvolveTime: a fitting output was replaced");
        if (!keeps && (out.rows != model.height || out.cols != model.width))
            fail("ConvolveTime: a new output is not height x width");
        for (int p = 0; p < pixels; ++p) {
            double sum = 0.0, magnitude = 0.0;
            bool finite = true;
            for (int age = 0; age < model.length; ++age) {
                const float w = age < static_cast<int>(kernel.size())
                                    ? static_cast<float>(kernel[static_cast<std::size_t>(age)])
                                    : 0.0f;
                const float x = model.frames[static_cast<std::size_t>(model.slotOfAge(age))]
                                            [static_cast<std::size_t>(p)];
                finite = finite && std::isfinite(w) && std::isfinite(x);
                sum += static_cast<double>(w) * x;
                magnitude += std::fabs(static_cast<double>(w) * x);
            }
            if (!finite || !(magnitude < 1e37)) continue;  // float rounding may overflow
            const float got = out.isContinuous() ? out.ptr<float>()[p]
                                                 : out.at<float>(p / model.width, p % model.width);
            if (!(std::fabs(got - sum) <= 1e-5 * magnitude + 1e-37))
                fail("ConvolveTime: weighted sum differs from the model");
        }
    }

    void maxima() {
        const bool full = in.ConsumeBool();
        stview::FeatureList points(1);
        points[0].label = "kept";
        const Outcome got = run([&] { buffer.FindLocalMaxima(points, full); });
        expect(got, model.stored ? Outcome::Ok : Outcome::Logic, "FindLocalMaxima: outcome");
        if (got != Outcome::Ok) return;
        if (points.empty() || points[0].label != "kept") fail("FindLocalMaxima: lost a record");

        std::vector<stview::SpaceTimeOffset> table;
        if (full) {
            const auto t = stview::makeNeighbours26();
            table.assign(t.begin(), t.end());
        } else {
            const auto t = stview::makeNeighbours10();
            table.assign(t.begin(), t.end());
        }
        std::size_t next = 1;
        for (int age = 1; age <= model.length - 2; ++age) {
            const int slot = model.slotOfAge(age);
            for (int r = 1; r <= model.height - 2; ++r)
                for (int c = 1; c <= model.width - 2; ++c) {
                    const float v = model.at(slot, r, c);
                    bool strict = true;
                    for (const auto& o : table)
                        strict =
                            strict && model.at(model.slotOfAge(age + o.dt), r + o.dy, c + o.dx) < v;
                    if (!strict) continue;
                    if (next >= points.size()) fail("FindLocalMaxima: a maximum is missing");
                    const stview::FeaturePoint& p = points[next++];
                    if (p.x != c || p.y != r ||
                        p.t != model.labels[static_cast<std::size_t>(slot)] ||
                        p.value != static_cast<double>(v))
                        fail("FindLocalMaxima: record differs from the model");
                }
        }
        if (next != points.size()) fail("FindLocalMaxima: a record that is no maximum");
    }

    void runAll() {
        for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
            switch (in.ConsumeIntegralInRange(0, 9)) {
                case 0:
                case 1:
                    add(false);
                    break;
                case 2:
                    add(true);
                    break;
                case 3:
                    setLength();
                    break;
                case 4:
                    getFrameAtSlot();
                    break;
                case 5:
                    getFrame();
                    break;
                case 6:
                    getRegion();
                    break;
                case 7:
                    getLocalRegion();
                    break;
                case 8:
                    convolve();
                    break;
                default:
                    maxima();
                    break;
            }
        }
    }
};

NullBuffer nullBuffer;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cout.rdbuf(&nullBuffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int n = static_cast<int>(data[0] % 8) - 1;  // -1 .. 6
    Fuzz fuzz(data + 1, size - 1, n);
    fuzz.runAll();
    return 0;
}
