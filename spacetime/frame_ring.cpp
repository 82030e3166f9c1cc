#include "spacetime/frame_ring.hpp"

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace stview {

void FrameRing::Init(int n, int value) {
    if (n < 0) throw std::length_error("FrameRing::Init: negative slot count " + std::to_string(n));
    if (!frames_.empty()) throw std::logic_error("FrameRing::Init: ring already sized");
    frames_.reserve(static_cast<std::size_t>(n));
    ages_.reserve(static_cast<std::size_t>(n));
    frames_.assign(static_cast<std::size_t>(n), value);
    for (int i = 0; i < n; ++i) ages_.push_back(i);
    head_ = 0;
    pushes_ = 0;
}

void FrameRing::requireSlots(const char* operation) const {
    if (frames_.empty())
        throw std::logic_error(std::string("FrameRing::") + operation + ": ring has no slots");
}

int FrameRing::Push(int frameNumber) {
    requireSlots("Push");
    ++pushes_;
    head_ = (head_ + 1) % Size();
    frames_[static_cast<std::size_t>(head_)] = frameNumber;
    return head_;
}

int FrameRing::FindSlot(int frameNumber) const {
    for (std::size_t s = 0; s < frames_.size(); ++s)
        if (frames_[s] == frameNumber) return static_cast<int>(s);
    return -1;
}

int FrameRing::MaxFrame() const {
    requireSlots("MaxFrame");
    int best = frames_[0];
    for (int f : frames_)
        if (f > best) best = f;
    return best;
}

int FrameRing::MinFrame() const {
    requireSlots("MinFrame");
    int best = frames_[0];
    for (int f : frames_)
        if (f < best) best = f;
    return best;
}

int FrameRing::CentreFrame(int windowLength) const {
    requireSlots("CentreFrame");
    const double n = Size();
    const double e = std::ceil(windowLength * 0.5) - 1.0;
    const double d = head_ - e;
    const double slot = d - n * std::floor(d / n);
    return frames_[static_cast<std::size_t>(slot)];
}

const std::vector<int>& FrameRing::UpdateAges() {
    const auto n = static_cast<std::uint32_t>(frames_.size());
    for (std::uint32_t i = 0; i < n; ++i) ages_[(pushes_ + 1u + i) % n] = static_cast<int>(i);
    for (int& age : ages_) age = std::abs(static_cast<int>(n) - (age + 1));
    return ages_;
}

std::ostream& FrameRing::Print(std::ostream& out) {
    out << "D: ";
    for (int f : frames_) out << f << '\t';
    out << std::endl;
    out << "S: ";
    for (int age : UpdateAges()) out << age << '\t';
    out << std::endl;
    return out;
}

int FrameRing::FrameAt(int slot) const {
    if (slot < 0 || slot >= Size())
        throw std::out_of_range("FrameRing::FrameAt: no slot " + std::to_string(slot));
    return frames_[static_cast<std::size_t>(slot)];
}

}  // namespace stview
