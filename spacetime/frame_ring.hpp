#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace stview {

/**
 * @brief Slot bookkeeping of a FrameBuffer: the frame number held by each of n slots, the
 * slot written last (the head), a push counter and, on request, the age of every slot.
 *
 * A ring that was never initialised has Size() 0. Push, CentreFrame, MinFrame and MaxFrame
 * need at least one slot and throw std::logic_error on an empty ring; FindSlot gives -1,
 * UpdateAges gives an empty sequence and Print writes the two line heads only.
 */
class FrameRing {
  public:
    /// Sizes the ring: n slots labelled value, ages 0 .. n-1, head and push counter 0.
    /// Throws std::length_error for n < 0 and std::logic_error when already sized;
    /// the ring is unchanged in both cases.
    void Init(int n, int value);

    int Size() const { return static_cast<int>(frames_.size()); }

    /// Moves the head one slot on (wrapping), labels it frameNumber and returns it.
    int Push(int frameNumber);

    /// Lowest slot labelled frameNumber, or -1.
    int FindSlot(int frameNumber) const;
    int MaxFrame() const;
    int MinFrame() const;

    /// Frame number written ceil(windowLength / 2) - 1 pushes before the newest one, the
    /// position taken cyclically over the slots (0 gives the oldest slot).
    int CentreFrame(int windowLength) const;

    /// Recomputes and returns the ages: entry s is the age of slot s (0 = head), and, the
    /// map being its own inverse, entry k is also the slot holding the frame of age k.
    const std::vector<int>& UpdateAges();

    /// Writes "D: " and the frame number of each slot, each followed by a tab, then a line
    /// end; then "S: " and the ages (after UpdateAges) in the same form.
    std::ostream& Print(std::ostream& out);

    /// Slot written last; 0 on an empty ring.
    int Head() const { return head_; }
    /// Frame number of a slot; throws std::out_of_range outside 0 .. Size()-1.
    int FrameAt(int slot) const;

  private:
    void requireSlots(const char* operation) const;

    std::vector<int> frames_;
    std::vector<int> ages_;
    int head_ = 0;
    std::uint32_t pushes_ = 0;
};

}  // namespace stview
