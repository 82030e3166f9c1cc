// Fuzz target for FrameBuffer: byte 0 picks the slot count (-1 .. 6), the rest up to 64 adds,
// region copies, convolutions and maxima searches on frames up to 8 x 8, checking invariants.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <typeindex>

#include "spacetime/frame_buffer.hpp"

namespace {

void check(bool ok) { ok ? void() : std::abort(); }  // the stack trace names the line

// The exact class of what op threw, void for nothing; anything else escapes to libFuzzer.
template <typename Op>
std::type_index thrown(Op op) {
    try {
        op();
    } catch (const std::logic_error& e) {
        return typeid(e);
    }
    return typeid(void);
}

struct Fuzz {
    FuzzedDataProvider in;
    int n;
    stview::FrameBuffer buffer{n};
    int w = 0, h = 0;  // 0 until the first add

    int pickInt(int low, int high) {
        return in.ConsumeIntegralInRange(0, 15) ? in.ConsumeIntegralInRange(low, high)
                                                : in.PickValueInArray({INT_MIN, -99999, INT_MAX});
    }
    float pickValue() {
        return in.ConsumeBool() ? in.PickValueInArray<float>({0, 1, -1, 2, -0.0f, NAN, INFINITY})
                                : in.ConsumeFloatingPoint<float>();
    }

    void add() {
        const bool numbered = in.ConsumeBool(), fit = w > 0 && in.ConsumeBool();
        const int number = pickInt(-3, 20), rows = fit ? h : in.ConsumeIntegralInRange(0, 8),
                  cols = fit ? w : in.ConsumeIntegralInRange(1, 8);
        const int type = in.PickValueInArray({CV_32FC1, CV_32FC1, CV_64FC1, CV_8UC1});
        cv::Mat image = cv::Mat(rows + 1, cols + 1, type, 1.0)(cv::Rect(0, 0, cols, rows));
        if (in.ConsumeBool()) image = image.clone();  // else not continuous
        for (int r = 0; r < rows && type == CV_32FC1; ++r)
            for (int c = 0; c < cols; ++c) image.at<float>(r, c) = pickValue();
        if (rows > 0 && image.isContinuous() && in.ConsumeBool()) image = image.reshape(1, 1);
        const int newest = w > 0 ? buffer.Ring().FrameAt(buffer.Ring().Head()) : -1;
        const std::type_info& want =
            type != CV_32FC1 || rows == 0 || (w > 0 && rows * cols != w * h)
                ? typeid(std::invalid_argument)
            : w == 0 && n < 1                         ? typeid(std::length_error)
            : w > 0 && !numbered && newest == INT_MAX ? typeid(std::out_of_range)
                                                      : typeid(void);
        check(thrown([&] {
                  numbered ? buffer.AddFrameNumbered(image, number) : buffer.AddFrame(image);
              }) == want);
        const int frame = buffer.Ring().Size() ? buffer.Ring().FrameAt(buffer.Ring().Head()) : -1;
        check(want == typeid(void) ? frame == (numbered ? number : newest + 1) : frame == newest);
        if (want != typeid(void)) return;
        if (w == 0) w = image.cols, h = image.rows;
        cv::Mat copy, flat = image.clone();  // read back bit for bit
        check(buffer.GetFrameAtSlot(buffer.Ring().Head(), copy) == 0 && copy.isContinuous() &&
              buffer.Width() == w && buffer.Height() == h && copy.total() == flat.total() &&
              std::memcmp(copy.data, flat.data, flat.total() * sizeof(float)) == 0);
    }

    void region() {
        const bool local = in.ConsumeBool();
        int v[6];
        for (int& x : v) x = pickInt(-3, 10);
        if (local) v[5] = std::min(v[5], 16);  // a line of standard output per frame
        double need = 1;                       // elements in the box
        for (int i = 3; i < 6; ++i) need *= std::max(0.0, local ? v[i] : 1.0 + v[i] - v[i - 3]);
        if (!local && need > 4096 && need <= INT_MAX) return;  // valid, but not worth copying
        cv::Mat out(1, in.ConsumeIntegralInRange(0, 600), CV_64FC1, -42.0);  // 1 x 0: empty
        const cv::Mat before = out;
        const std::type_index got = thrown([&] {
            local ? buffer.GetLocalRegion(v[0], v[1], v[2], v[3], v[4], v[5], out)
                  : buffer.GetRegion(v[0], v[1], v[2], v[3], v[4], v[5], out);
        });
        check((w == 0) == (got == typeid(std::logic_error)) &&
              got != typeid(std::invalid_argument));
        const bool kept = out.data == before.data, written = got == typeid(void) && need > 0;
        check(!written || (out.type() == CV_64FC1 && out.isContinuous() && out.total() >= need));
        check(kept || (written && out.rows == 1 && out.total() == need));
        for (std::size_t i = written ? std::size_t(need) : 0; kept && i < out.total(); ++i)
            check(out.at<double>(0, int(i)) == -42.0);  // untouched past the box or on a refusal
    }

    void compute() {  // a convolution and a maxima search
        std::vector<double> kernel(in.ConsumeIntegralInRange(0, 12));
        for (double& k : kernel) k = pickValue();
        cv::Mat out(1, std::max(w * h, 1), in.ConsumeBool() ? CV_32FC1 : CV_64FC1);
        const cv::Mat before = out;
        stview::FeatureList points(1);  // kept: a maximum is never at column 0
        int centre = 0;
        const std::type_index want = w > 0 ? typeid(void) : typeid(std::logic_error);
        check(thrown([&] { centre = buffer.ConvolveTime(out, kernel); }) == want &&
              thrown([&] { buffer.FindLocalMaxima(points, in.ConsumeBool()); }) == want);
        check(points[0].x == 0);
        for (auto p = points.begin() + 1; p < points.end(); ++p)
            check(p->x >= 1 && p->x <= w - 2 && p->y >= 1 && p->y <= h - 2 &&
                  !std::isnan(p->value) && buffer.Ring().FindSlot(p->t) >= 0);
        check(w == 0 || (centre == buffer.Ring().CentreFrame(int(kernel.size())) &&
                         out.type() == CV_32FC1 && out.total() == std::size_t(w * h) &&
                         (before.type() == CV_32FC1 ? out.data == before.data
                                                    : out.rows == h && out.cols == w)));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::cout.setstate(std::ios::badbit);  // GetLocalRegion's diagnostics
    Fuzz fuzz{FuzzedDataProvider(data + 1, size - 1), data[0] % 8 - 1};
    for (int step = 0; step < 64 && fuzz.in.remaining_bytes() > 0; ++step)
        (fuzz.*fuzz.in.PickValueInArray({&Fuzz::add, &Fuzz::add, &Fuzz::region, &Fuzz::compute}))();
    return 0;
}
