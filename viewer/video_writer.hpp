#pragma once

#include <memory>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

namespace stview {

/// The video codecs the viewer writes.
enum class OutputCodec {
    Mpeg4,  ///< MPEG-4 part 2, FourCC DIVX; quality is FFmpeg's quantiser scale
    H264,   ///< H.264 through libx264; quality is the constant rate factor
};

/// What an output file name leads to: the codec and its quality scale.
struct OutputFormat {
    OutputCodec codec;
    const char* codecName;  ///< for messages, e.g. "MPEG-4"
    int qualityMin;         ///< best quality
    int qualityMax;         ///< smallest files
    int qualityDefault;
};

/**
 * @brief The codec FFmpeg would write for @p path, chosen by its extension:
 * ".avi" gives MPEG-4 (DIVX), any other container that holds H.264 (".mp4",
 * ".mkv", ".mov", ...) gives H.264. Opens nothing.
 * @return nothing when FFmpeg has no video container for the extension, or
 *         the container holds neither codec, or the encoder is missing;
 *         @p why then says which.
 */
std::optional<OutputFormat> outputFormatFor(const std::string& path, std::string& why);

/// How the frames are encoded.
struct EncoderSettings {
    int quality = -1;       ///< on the codec's own scale; -1: its default
    long long bitRate = 0;  ///< bits per second; 0: constant quality instead
    double framesPerSecond = 25.0;
};

/**
 * @brief Writes 8-bit BGR frames (CV_8UC3, all of the size given to open) to
 * a video file with FFmpeg's libraries, as yuv420p, encoding on the codec's
 * own threads (one per core). MP4 files get their index at the front.
 *
 * Every failure is a false return with a one-line reason in error(). The
 * destructor finishes an open file as close() does, so a render stopped
 * early still leaves a playable file.
 */
class VideoFileWriter {
  public:
    VideoFileWriter();
    ~VideoFileWriter();
    VideoFileWriter(const VideoFileWriter&) = delete;
    VideoFileWriter& operator=(const VideoFileWriter&) = delete;

    /// Creates (or replaces) @p path and writes its header.
    bool open(const std::string& path, cv::Size frameSize, const EncoderSettings& settings);
    /// Encodes one frame; frames get consecutive time stamps.
    bool write(const cv::Mat& frame);
    /// Flushes the encoder and writes the container's index; the file is then complete.
    bool close();
    bool isOpen() const;
    /// Frames encoded since the last open (still counted after close).
    long framesWritten() const;
    const std::string& error() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::string error_;
    long frames_ = 0;
};

}  // namespace stview
