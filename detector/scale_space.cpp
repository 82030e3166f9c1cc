#include "detector/scale_space.hpp"

// The AVX2 and AVX-512 paths need GCC's or Clang's per-function target attributes and an x86
// processor; elsewhere (or with STVIEW_PLAIN_ONLY defined) only the plain path is built.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(STVIEW_PLAIN_ONLY)
#define STVIEW_VECTOR_PATHS 1
#include <immintrin.h>
#else
#define STVIEW_VECTOR_PATHS 0
#endif

#if defined(__GNUC__)
#define STVIEW_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define STVIEW_ALWAYS_INLINE inline
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "imaging/gaussian_kernel.hpp"

namespace stview {

cv::Mat gaussianTaps(double variance) {
    const std::vector<double> taps = makeGaussianKernel(variance, 0, 3);
    cv::Mat column;
    cv::Mat(taps, true).convertTo(column, CV_32F);
    return column;
}

namespace {

// The instruction sets the filters, the temporal sums and the response are written for, in
// the order of preference. All three give the same floats.
enum class Path { plain, avx2, avx512 };
constexpr const char* kPathNames[] = {"plain", "avx2", "avx512"};

// The best path this build and processor run. AVX2 goes with FMA (the filters fuse), AVX-512
// (F) with both; the processor check includes the operating system's saving of the registers.
Path bestPath() {
#if STVIEW_VECTOR_PATHS
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return __builtin_cpu_supports("avx512f") ? Path::avx512 : Path::avx2;
    }
#endif
    return Path::plain;
}

struct PathChoice {
    Path path = Path::plain;
    std::string error;  // why STVIEW_SIMD cannot be followed; empty when it can
};

// STVIEW_SIMD unset or empty takes the best path. A path it names that this processor or build
// lacks, or a name that is no path, is an error for every call rather than a quiet fall-back
// (one asks for a path to compare paths or to avoid one, and running another would hide that
// it was not followed) or an illegal instruction.
PathChoice readPathChoice() {
    const Path best = bestPath();
    const char* wanted = std::getenv("STVIEW_SIMD");
    if (wanted == nullptr || *wanted == '\0') return {best, {}};
    std::string runs;  // what can be asked for, best first
    for (int p = static_cast<int>(best); p >= 0; --p) {
        runs += std::string(runs.empty() ? "" : ", ") + kPathNames[p];
    }
    const std::string where = STVIEW_VECTOR_PATHS ? "this processor" : "this build";
    for (int p = 0; p < 3; ++p) {
        if (std::strcmp(wanted, kPathNames[p]) != 0) continue;
        if (p <= static_cast<int>(best)) return {static_cast<Path>(p), {}};
        return {best, "STVIEW_SIMD=" + std::string(wanted) + ": " + where + " runs only " + runs +
                          " (unset STVIEW_SIMD for the best)"};
    }
    return {best, "STVIEW_SIMD=" + std::string(wanted) + " is not avx512, avx2 or plain (" + where +
                      " runs " + runs + "; unset STVIEW_SIMD for the best)"};
}

PathChoice& pathChoice() {
    static PathChoice choice = readPathChoice();
    return choice;
}

// The path to take. @throws std::runtime_error when STVIEW_SIMD cannot be followed.
Path activePath() {
    const PathChoice& choice = pathChoice();
    if (!choice.error.empty()) throw std::runtime_error(choice.error);
    return choice.path;
}

#if STVIEW_VECTOR_PATHS

// out[x] = c[0] in(x) + sum over j = 1 .. half of c[j] (in(x - j) + in(x + j)), x in [0, n), where
// in(x + k) is read at line(k) + x: a symmetric kernel along a padded row (line(k) = row + k)
// or across rows (line(k) = the row k below). Written once for AVX2 with FMA, 32 outputs per
// step in four accumulators so that the multiply-adds overlap, and once plainly.
template <class Line>
__attribute__((target("avx2,fma"))) void symmetricAvx2(const Line& line, float* out, int n,
                                                       const float* c, int half) {
    int x = 0;
    const __m256 c0 = _mm256_set1_ps(c[0]);
    const float* centre = line(0);
    for (; x + 32 <= n; x += 32) {
        __m256 a0 = _mm256_mul_ps(c0, _mm256_loadu_ps(centre + x));
        __m256 a1 = _mm256_mul_ps(c0, _mm256_loadu_ps(centre + x + 8));
        __m256 a2 = _mm256_mul_ps(c0, _mm256_loadu_ps(centre + x + 16));
        __m256 a3 = _mm256_mul_ps(c0, _mm256_loadu_ps(centre + x + 24));
        for (int j = 1; j <= half; ++j) {
            const __m256 cj = _mm256_set1_ps(c[j]);
            const float* before = line(-j) + x;
            const float* after = line(j) + x;
            a0 = _mm256_fmadd_ps(cj, _mm256_add_ps(_mm256_loadu_ps(before), _mm256_loadu_ps(after)),
                                 a0);
            a1 = _mm256_fmadd_ps(
                cj, _mm256_add_ps(_mm256_loadu_ps(before + 8), _mm256_loadu_ps(after + 8)), a1);
            a2 = _mm256_fmadd_ps(
                cj, _mm256_add_ps(_mm256_loadu_ps(before + 16), _mm256_loadu_ps(after + 16)), a2);
            a3 = _mm256_fmadd_ps(
                cj, _mm256_add_ps(_mm256_loadu_ps(before + 24), _mm256_loadu_ps(after + 24)), a3);
        }
        _mm256_storeu_ps(out + x, a0);
        _mm256_storeu_ps(out + x + 8, a1);
        _mm256_storeu_ps(out + x + 16, a2);
        _mm256_storeu_ps(out + x + 24, a3);
    }
    for (; x + 8 <= n; x += 8) {
        __m256 a = _mm256_mul_ps(c0, _mm256_loadu_ps(centre + x));
        for (int j = 1; j <= half; ++j) {
            a = _mm256_fmadd_ps(
                _mm256_set1_ps(c[j]),
                _mm256_add_ps(_mm256_loadu_ps(line(-j) + x), _mm256_loadu_ps(line(j) + x)), a);
        }
        _mm256_storeu_ps(out + x, a);
    }
    for (; x < n; ++x) {
        float a = c[0] * centre[x];
        for (int j = 1; j <= half; ++j) a = std::fma(c[j], line(-j)[x] + line(j)[x], a);
        out[x] = a;
    }
}

// symmetricAvx2 with 16-float vectors and eight accumulators (128 outputs per step); the
// last outputs go to symmetricAvx2. Every output takes the same operations in the same order.
template <class Line>
__attribute__((target("avx512f,avx2,fma"))) void symmetricAvx512(const Line& line, float* out,
                                                                 int n, const float* c, int half) {
    constexpr int kVectors = 8, kStep = 16 * kVectors;
    int x = 0;
    const __m512 c0 = _mm512_set1_ps(c[0]);
    const float* centre = line(0);
    for (; x + kStep <= n; x += kStep) {
        __m512 a[kVectors];
#pragma GCC unroll 8
        for (int v = 0; v < kVectors; ++v)
            a[v] = _mm512_mul_ps(c0, _mm512_loadu_ps(centre + x + 16 * v));
        for (int j = 1; j <= half; ++j) {
            const __m512 cj = _mm512_set1_ps(c[j]);
            const float* before = line(-j) + x;
            const float* after = line(j) + x;
#pragma GCC unroll 8
            for (int v = 0; v < kVectors; ++v) {
                a[v] = _mm512_fmadd_ps(cj,
                                       _mm512_add_ps(_mm512_loadu_ps(before + 16 * v),
                                                     _mm512_loadu_ps(after + 16 * v)),
                                       a[v]);
            }
        }
#pragma GCC unroll 8
        for (int v = 0; v < kVectors; ++v) _mm512_storeu_ps(out + x + 16 * v, a[v]);
    }
    symmetricAvx2([&line, x](int k) { return line(k) + x; }, out + x, n - x, c, half);
}

// The pass across rows for output rows [begin, end) and columns [x0, x1) (x1 - x0 a multiple
// of 16), eight rows at a time: for each 16 columns, each row of the filtered image is loaded
// once for the eight outputs, which keep the rows around them in registers as the taps widen
// (in(r - j) for output r + 1 is in(r - j + 1) of the step before). The columns are taken
// left to right for each eight rows, so that the rows are read as they lie in memory (going
// down a strip instead strides by whole rows, which at 640 floats map to few cache sets).
// Same operations per output as symmetricAvx2.
__attribute__((target("avx512f,avx2,fma"))) void columnsAvx512(const float* image, int rows,
                                                               int cols, int begin, int end, int x0,
                                                               int x1, const float* c, int half,
                                                               float* dst, std::size_t dstStride) {
    constexpr int kRows = 8;
    // line[k]: row r - half - 1 + k of the image, repeating the edge rows.
    thread_local std::vector<const float*> line;
    line.resize(2 * static_cast<std::size_t>(half) + kRows + 2);
    const __m512 c0 = _mm512_set1_ps(c[0]);
    int r = begin;
    for (; r + kRows <= end; r += kRows) {
        for (std::size_t k = 0; k < line.size(); ++k) {
            const int q = std::clamp(r - half - 1 + static_cast<int>(k), 0, rows - 1);
            line[k] = image + static_cast<std::size_t>(q) * cols;
        }
        const float* const* at = line.data() + half + 1;  // at[i]: row r + i
        for (int x = x0; x < x1; x += 16) {
            __m512 a[kRows], lo[kRows], hi[kRows];
#pragma GCC unroll 8
            for (int i = 0; i < kRows; ++i) {
                a[i] = _mm512_mul_ps(c0, _mm512_loadu_ps(at[i] + x));
                lo[i] = _mm512_loadu_ps(at[i - 1] + x);
                hi[i] = _mm512_loadu_ps(at[i + 1] + x);
            }
            for (int j = 1; j <= half; ++j) {
                const __m512 cj = _mm512_set1_ps(c[j]);
#pragma GCC unroll 8
                for (int i = 0; i < kRows; ++i)
                    a[i] = _mm512_fmadd_ps(cj, _mm512_add_ps(lo[i], hi[i]), a[i]);
                if (j == half) break;
#pragma GCC unroll 8
                for (int i = kRows - 1; i > 0; --i) lo[i] = lo[i - 1];
#pragma GCC unroll 8
                for (int i = 0; i + 1 < kRows; ++i) hi[i] = hi[i + 1];
                lo[0] = _mm512_loadu_ps(at[-j - 1] + x);
                hi[kRows - 1] = _mm512_loadu_ps(at[kRows + j] + x);
            }
#pragma GCC unroll 8
            for (int i = 0; i < kRows; ++i)
                _mm512_storeu_ps(dst + static_cast<std::size_t>(r + i) * dstStride + x, a[i]);
        }
    }
    const auto row = [&](int q) {
        return image + static_cast<std::size_t>(std::clamp(q, 0, rows - 1)) * cols;
    };
    for (; r < end; ++r) {
        for (int x = x0; x < x1; x += 16) {
            __m512 a = _mm512_mul_ps(c0, _mm512_loadu_ps(row(r) + x));
            for (int j = 1; j <= half; ++j) {
                a = _mm512_fmadd_ps(
                    _mm512_set1_ps(c[j]),
                    _mm512_add_ps(_mm512_loadu_ps(row(r - j) + x), _mm512_loadu_ps(row(r + j) + x)),
                    a);
            }
            _mm512_storeu_ps(dst + static_cast<std::size_t>(r) * dstStride + x, a);
        }
    }
}

#endif  // STVIEW_VECTOR_PATHS

// The vector paths' operations one output at a time: the centre's product, then one fused
// multiply-add per tap pair from the nearest out, so that every path gives the same floats.
template <class Line>
void symmetricPlain(const Line& line, float* out, int n, const float* c, int half) {
    for (int x = 0; x < n; ++x) {
        float a = c[0] * line(0)[x];
        for (int j = 1; j <= half; ++j) a = std::fma(c[j], line(-j)[x] + line(j)[x], a);
        out[x] = a;
    }
}

template <class Line>
void symmetric(Path path, const Line& line, float* out, int n, const float* c, int half) {
    switch (path) {
#if STVIEW_VECTOR_PATHS
        case Path::avx512:
            symmetricAvx512(line, out, n, c, half);
            return;
        case Path::avx2:
            symmetricAvx2(line, out, n, c, half);
            return;
#endif
        default:
            symmetricPlain(line, out, n, c, half);
    }
}

// Runs body over row ranges on OpenCV's thread pool (serially when called from inside a
// parallel region, as in the detector's per-pair tasks).
template <class Body>
void forRows(int rows, const Body& body) {
    cv::parallel_for_(cv::Range(0, rows),
                      [&](const cv::Range& range) { body(range.start, range.end); });
}

}  // namespace

const char* simdPath() { return kPathNames[static_cast<int>(activePath())]; }

void reselectSimdPath() { pathChoice() = readPathChoice(); }

void smoothSpace(const cv::Mat& src, cv::Mat& dst, const cv::Mat& taps) {
    CV_Assert(src.type() == CV_32FC1 && !src.empty() && taps.type() == CV_32FC1 && taps.cols == 1 &&
              taps.rows % 2 == 1);
    const Path path = activePath();
    const int rows = src.rows, cols = src.cols, half = taps.rows / 2;
    const float* c = taps.ptr<float>() + half;  // c[j]: the tap j away from the centre
    // The row-filtered image, kept between calls by the calling thread.
    thread_local std::vector<float> filteredImage;
    filteredImage.resize(static_cast<std::size_t>(rows) * cols);
    float* filtered = filteredImage.data();
    forRows(rows, [&](int begin, int end) {
        thread_local std::vector<float> padded;
        padded.resize(static_cast<std::size_t>(cols) + 2 * half);
        const float* middle = padded.data() + half;
        for (int r = begin; r < end; ++r) {
            const float* row = src.ptr<float>(r);
            std::fill(padded.begin(), padded.begin() + half, row[0]);
            std::copy(row, row + cols, padded.begin() + half);
            std::fill(padded.begin() + half + cols, padded.end(), row[cols - 1]);
            symmetric(
                path, [middle](int k) { return middle + k; },
                filtered + static_cast<std::size_t>(r) * cols, cols, c, half);
        }
    });
    dst.create(rows, cols, CV_32FC1);
    // Columns in 16-wide strips, eight rows at a time, where AVX-512 is there; the columns
    // past the last whole strip (and all of them elsewhere) row by row.
    const int strips = path == Path::avx512 ? cols / 16 * 16 : 0;
    forRows(rows, [&](int begin, int end) {
#if STVIEW_VECTOR_PATHS
        if (strips > 0) {
            columnsAvx512(filtered, rows, cols, begin, end, 0, strips, c, half, dst.ptr<float>(),
                          dst.step1());
        }
#endif
        if (strips == cols) return;
        thread_local std::vector<const float*> window;
        window.resize(2 * static_cast<std::size_t>(half) + 1);
        const float* const* lines = window.data() + half;
        for (int r = begin; r < end; ++r) {
            for (int k = -half; k <= half; ++k) {
                window[k + half] = filtered +
                                   static_cast<std::size_t>(std::clamp(r + k, 0, rows - 1)) * cols +
                                   strips;
            }
            symmetric(
                path, [lines](int k) { return lines[k]; }, dst.ptr<float>(r) + strips,
                cols - strips, c, half);
        }
    });
}

void gradientProduct(const cv::Mat& before, const cv::Mat& current, const cv::Mat& after,
                     double sigma, double tau, int which, cv::Mat& product) {
    // The two derivatives each product multiplies: 0 along x, 1 along y, 2 along t.
    static constexpr int kFactors[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
    CV_Assert(which >= 0 && which < 6);
    const int rows = current.rows;
    const int cols = current.cols;
    product.create(rows, cols, CV_32FC1);
    const float halfSigma = static_cast<float>(sigma / 2.0);
    const float halfTau = static_cast<float>(tau / 2.0);
    forRows(rows, [&](int begin, int end) {
        thread_local std::vector<float> derivatives;
        derivatives.resize(2 * static_cast<std::size_t>(cols));
        for (int r = begin; r < end; ++r) {
            const float* row = current.ptr<float>(r);
            for (int f = 0; f < 2; ++f) {
                float* d = derivatives.data() + f * cols;
                switch (kFactors[which][f]) {
                    case 0:
                        d[0] = halfSigma * (row[cols > 1 ? 1 : 0] - row[0]);
                        for (int c = 1; c + 1 < cols; ++c)
                            d[c] = halfSigma * (row[c + 1] - row[c - 1]);
                        if (cols > 1) d[cols - 1] = halfSigma * (row[cols - 1] - row[cols - 2]);
                        break;
                    case 1: {
                        const float* up = current.ptr<float>(r > 0 ? r - 1 : 0);
                        const float* down = current.ptr<float>(r + 1 < rows ? r + 1 : rows - 1);
                        for (int c = 0; c < cols; ++c) d[c] = halfSigma * (down[c] - up[c]);
                        break;
                    }
                    default: {
                        const float* previous = before.ptr<float>(r);
                        const float* next = after.ptr<float>(r);
                        for (int c = 0; c < cols; ++c) d[c] = halfTau * (next[c] - previous[c]);
                    }
                }
            }
            const float* a = derivatives.data();
            const float* b = a + cols;
            float* out = product.ptr<float>(r);
            for (int c = 0; c < cols; ++c) out[c] = a[c] * b[c];
        }
    });
}

namespace {

// Inlined into each caller, so that the AVX2 one is compiled for AVX2.
STVIEW_ALWAYS_INLINE void responseRow(const float* const* mu, double k, int n, float* out) {
    const float *xx = mu[0], *yy = mu[1], *tt = mu[2], *xy = mu[3], *xt = mu[4], *yt = mu[5];
    for (int c = 0; c < n; ++c) {
        const double a = xx[c], b = yy[c], t = tt[c], d = xy[c], e = xt[c], f = yt[c];
        const double det = a * (b * t - f * f) - d * (d * t - f * e) + e * (d * f - b * e);
        const double trace = a + b + t;
        out[c] = static_cast<float>(det - k * trace * trace * trace);
    }
}

#if STVIEW_VECTOR_PATHS
__attribute__((target("avx2"))) void responseRowAvx2(const float* const* mu, double k, int n,
                                                     float* out) {
    responseRow(mu, k, n, out);
}
#endif

// The sum's passes over the n outputs, each adding to what the last left in out. Without
// fused multiply-adds (the build contracts nothing), so every element's operations are
// the same whatever the vector width.
STVIEW_ALWAYS_INLINE void weightedSumPasses(const float* const* rows, const float* weights,
                                            int terms, int n, float* __restrict out) {
    {
        const float w = weights[0];
        const float* __restrict r = rows[0];
        for (int p = 0; p < n; ++p) out[p] = w * r[p];
    }
    int s = 1;
    for (; s + 4 <= terms; s += 4) {
        const float w0 = weights[s], w1 = weights[s + 1], w2 = weights[s + 2], w3 = weights[s + 3];
        const float* __restrict r0 = rows[s];
        const float* __restrict r1 = rows[s + 1];
        const float* __restrict r2 = rows[s + 2];
        const float* __restrict r3 = rows[s + 3];
        for (int p = 0; p < n; ++p) out[p] += w0 * r0[p] + w1 * r1[p] + w2 * r2[p] + w3 * r3[p];
    }
    for (; s < terms; ++s) {
        const float w = weights[s];
        const float* __restrict r = rows[s];
        for (int p = 0; p < n; ++p) out[p] += w * r[p];
    }
}

#if STVIEW_VECTOR_PATHS
__attribute__((target("avx2"))) void weightedSumAvx2(const float* const* rows, const float* weights,
                                                     int terms, int n, float* out) {
    weightedSumPasses(rows, weights, terms, n, out);
}

// weightedSumPasses with the total of 64 outputs in registers through all terms.
__attribute__((target("avx512f"))) void weightedSumAvx512(const float* const* rows,
                                                          const float* weights, int terms, int n,
                                                          float* out) {
    constexpr int kVectors = 4, kStep = 16 * kVectors;
    int p = 0;
    for (; p + kStep <= n; p += kStep) {
        __m512 a[kVectors];
        const __m512 first = _mm512_set1_ps(weights[0]);
#pragma GCC unroll 4
        for (int v = 0; v < kVectors; ++v)
            a[v] = _mm512_mul_ps(first, _mm512_loadu_ps(rows[0] + p + 16 * v));
        int s = 1;
        for (; s + 4 <= terms; s += 4) {
            const __m512 w0 = _mm512_set1_ps(weights[s]), w1 = _mm512_set1_ps(weights[s + 1]),
                         w2 = _mm512_set1_ps(weights[s + 2]), w3 = _mm512_set1_ps(weights[s + 3]);
            const float *r0 = rows[s] + p, *r1 = rows[s + 1] + p, *r2 = rows[s + 2] + p,
                        *r3 = rows[s + 3] + p;
#pragma GCC unroll 4
            for (int v = 0; v < kVectors; ++v) {
                __m512 group = _mm512_mul_ps(w0, _mm512_loadu_ps(r0 + 16 * v));
                group = _mm512_add_ps(group, _mm512_mul_ps(w1, _mm512_loadu_ps(r1 + 16 * v)));
                group = _mm512_add_ps(group, _mm512_mul_ps(w2, _mm512_loadu_ps(r2 + 16 * v)));
                group = _mm512_add_ps(group, _mm512_mul_ps(w3, _mm512_loadu_ps(r3 + 16 * v)));
                a[v] = _mm512_add_ps(a[v], group);
            }
        }
        for (; s < terms; ++s) {
            const __m512 w = _mm512_set1_ps(weights[s]);
#pragma GCC unroll 4
            for (int v = 0; v < kVectors; ++v)
                a[v] = _mm512_add_ps(a[v], _mm512_mul_ps(w, _mm512_loadu_ps(rows[s] + p + 16 * v)));
        }
#pragma GCC unroll 4
        for (int v = 0; v < kVectors; ++v) _mm512_storeu_ps(out + p + 16 * v, a[v]);
    }
    if (p == n) return;
    std::vector<const float*> rest(rows, rows + terms);
    for (const float*& row : rest) row += p;
    weightedSumPasses(rest.data(), weights, terms, n - p, out + p);
}
#endif  // STVIEW_VECTOR_PATHS

}  // namespace

void cornerResponseRow(const float* const* mu, double k, int n, float* out) {
#if STVIEW_VECTOR_PATHS
    if (activePath() != Path::plain) {
        responseRowAvx2(mu, k, n, out);
        return;
    }
#endif
    responseRow(mu, k, n, out);
}

void orderedWeightedSum(const float* const* rows, const float* weights, int terms, int n,
                        float* out) {
    CV_Assert(terms >= 1);
    switch (activePath()) {
#if STVIEW_VECTOR_PATHS
        case Path::avx512:
            weightedSumAvx512(rows, weights, terms, n, out);
            return;
        case Path::avx2:
            weightedSumAvx2(rows, weights, terms, n, out);
            return;
#endif
        default:
            weightedSumPasses(rows, weights, terms, n, out);
    }
}

void cornerResponse(const GradientProducts& mu, double k, cv::Mat& response) {
    const int rows = mu[0].rows;
    const int cols = mu[0].cols;
    response.create(rows, cols, CV_32FC1);
    forRows(rows, [&](int begin, int end) {
        for (int r = begin; r < end; ++r) {
            const float* lines[6];
            for (int i = 0; i < 6; ++i) lines[i] = mu[i].ptr<float>(r);
            cornerResponseRow(lines, k, cols, response.ptr<float>(r));
        }
    });
}

void greyFloat(const cv::Mat& frame, cv::Mat& grey8, cv::Mat& grey) {
    switch (frame.type()) {
        case CV_8UC3:
            cv::cvtColor(frame, grey8, cv::COLOR_BGR2GRAY);
            break;
        case CV_8UC4:
            cv::cvtColor(frame, grey8, cv::COLOR_BGRA2GRAY);
            break;
        case CV_8UC1:
            frame.copyTo(grey8);
            break;
        default:
            throw std::invalid_argument("frame of type " + cv::typeToString(frame.type()) +
                                        ": 8-bit BGR, BGRA or grey expected");
    }
    grey8.convertTo(grey, CV_32F, 1.0 / 255);
}

}  // namespace stview
