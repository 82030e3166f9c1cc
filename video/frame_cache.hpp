#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <utility>

namespace stview {

/**
 * @brief Any frame of a video by its number, for a player that steps both ways.
 *
 * The last decoded frames are kept in memory; the frames just after the
 * capture's position are decoded in turn; any other frame is reached by a seek
 * that is checked: the frame the seek lands on is identified by its timestamp
 * (against the timestamps of the frames decoded so far, or by the constant
 * frame rate they show), the video is decoded forward from there to the frame
 * asked for, and a landing after it is retried further back. When no landing
 * can be identified, the video is opened again and decoded from its start.
 * So a frame number always means the frame that sequential decoding from the
 * start gives it, whatever the container's seeking does.
 */
class FrameCache {
  public:
    /// Frames kept: at most this many, and no more than kBudgetBytes of pixels.
    static constexpr std::size_t kMostFrames = 48;
    static constexpr std::size_t kBudgetBytes = std::size_t{256} << 20;
    /// How many frames of @p frameBytes bytes each are kept by default (at least 2).
    static std::size_t capacityFor(std::size_t frameBytes);

    /**
     * @param capture an opened capture whose next read gives frame @p nextFrame;
     *        it belongs to this cache from now on (reopened from @p path when needed)
     * @param capacity frames kept in memory (at least 1)
     */
    FrameCache(cv::VideoCapture& capture, std::string path, long long nextFrame,
               std::size_t capacity);

    /**
     * @brief Frame @p number (zero-based, counted from the video's start).
     * @param frame set to the decoded 8-bit BGR frame; it shares the cached
     *        pixels, so clone it before drawing on it
     * @return false when the video has no such frame
     */
    bool get(long long number, cv::Mat& frame);

    std::size_t capacity() const { return capacity_; }
    /// Frames decoded so far, seeks included (for measurements).
    long long decoded() const { return decoded_; }

  private:
    bool readNext();                // decodes frame next_ into the cache; false at the end
    void keep(cv::Mat frame);       // the frame just read is frame next_: keeps it, moves on
    bool seekTo(long long number);  // positions the capture so that its next read is number
    bool restart();                 // opens the video again at frame 0
    long long identify(double milliseconds) const;  // frame with this timestamp, or -1
    void remember(long long number, double milliseconds);
    const cv::Mat* find(long long number) const;

    cv::VideoCapture& capture_;
    std::string path_;
    int backend_;
    std::size_t capacity_;
    long long next_;      // the frame the capture's next read gives; -1 unknown
    long long end_ = -1;  // first frame known not to exist; -1 unknown
    long long decoded_ = 0;
    std::deque<std::pair<long long, cv::Mat>> frames_;  // oldest decoded first
    // Timestamps (ms) of decoded frames; a timestamp seen on two frames maps to -1.
    std::map<double, long long> byTime_;
    double framesPerMs_ = 0;  // the announced rate, per millisecond
    bool regular_ = true;     // every timestamp so far fits the announced rate
    bool anchored_ = false;   // anchor below is set
    long long anchorFrame_ = 0;
    double anchorMs_ = 0;
};

}  // namespace stview
