#include "viewer/video_writer.hpp"

#include <cmath>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace stview {
namespace {

// Owners of FFmpeg's objects, each released by its own free function.
struct FormatDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

// An option list handed to FFmpeg's open calls, which take out what they use.
class Dictionary {
  public:
    Dictionary() = default;
    ~Dictionary() { av_dict_free(&entries_); }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    void set(const char* key, const std::string& value) {
        av_dict_set(&entries_, key, value.c_str(), 0);
    }
    AVDictionary** get() { return &entries_; }

  private:
    AVDictionary* entries_ = nullptr;
};

std::string describe(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

const char* const kH264Encoder = "libx264";

const AVCodec* encoderFor(OutputCodec codec) {
    return codec == OutputCodec::Mpeg4 ? avcodec_find_encoder(AV_CODEC_ID_MPEG4)
                                       : avcodec_find_encoder_by_name(kH264Encoder);
}

// True when the container is known to hold the codec.
bool holds(const AVOutputFormat* format, AVCodecID codec) {
    return format->video_codec == codec ||
           avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL) == 1;
}

// Sends one frame (or, with null, the end of the stream) to the encoder and
// writes every packet it has ready.
bool encode(AVFormatContext& format, AVCodecContext& codec, AVStream& stream, AVPacket& packet,
            const AVFrame* frame, std::string& error) {
    int code = avcodec_send_frame(&codec, frame);
    if (code < 0) {
        error = "encoding failed: " + describe(code);
        return false;
    }
    for (;;) {
        code = avcodec_receive_packet(&codec, &packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
        if (code < 0) {
            error = "encoding failed: " + describe(code);
            return false;
        }
        av_packet_rescale_ts(&packet, codec.time_base, stream.time_base);
        packet.stream_index = stream.index;
        code = av_interleaved_write_frame(&format, &packet);  // takes the packet's data
        if (code < 0) {
            error = "writing failed: " + describe(code);
            return false;
        }
    }
}

constexpr int kFromBgrFlags = SWS_AREA | SWS_ACCURATE_RND;

std::unique_ptr<SwsContext, ScalerDeleter> makeScaler(cv::Size size, AVPixelFormat from,
                                                      AVPixelFormat to, int flags) {
    return std::unique_ptr<SwsContext, ScalerDeleter>(
        sws_getContext(size.width, size.height, from, size.width, size.height, to, flags, nullptr,
                       nullptr, nullptr));
}

std::unique_ptr<AVFrame, FrameDeleter> makePicture(cv::Size size) {
    std::unique_ptr<AVFrame, FrameDeleter> picture(av_frame_alloc());
    if (!picture) return picture;
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = size.width;
    picture->height = size.height;
    if (av_frame_get_buffer(picture.get(), 0) < 0) picture.reset();
    return picture;
}

void toPicture(SwsContext& scaler, const cv::Mat& bgr, AVFrame& picture) {
    const uint8_t* const source[] = {bgr.data};
    const int sourceStride[] = {static_cast<int>(bgr.step[0])};
    sws_scale(&scaler, source, sourceStride, 0, bgr.rows, picture.data, picture.linesize);
}

cv::Mat lumaPlane(const AVFrame& picture) {
    return cv::Mat(picture.height, picture.width, CV_8UC1, picture.data[0], picture.linesize[0]);
}

// OpenCV reads frames through swscale's yuv420p -> bgr24 conversion as its
// FFmpeg back end sets it up (SWS_BICUBIC); that conversion truncates, so each
// frame it gives is darker than the video holds, by about one luma level. The
// loss is measured once here, on a synthetic frame taken through the writer's
// conversion, that decoding and the writer's conversion again, in whole luma
// levels; write() adds it back, so that what OpenCV reads from the output
// matches what was drawn (on vtest.avi's frames the round trip gives 51.1 dB
// PSNR with it, 45.6 dB without), and the output's luma matches the input's.
int decodingLumaLoss() {
    const cv::Size size(256, 64);
    cv::Mat pattern(size, CV_8UC3);
    for (int row = 0; row < size.height; ++row) {
        for (int column = 0; column < size.width; ++column) {
            pattern.at<cv::Vec3b>(row, column) = cv::Vec3b(
                cv::saturate_cast<uchar>(column), cv::saturate_cast<uchar>((column + row) % 256),
                cv::saturate_cast<uchar>((3 * column + row) % 256));
        }
    }
    const auto fromBgr = makeScaler(size, AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P, kFromBgrFlags);
    const auto toBgr = makeScaler(size, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, SWS_BICUBIC);
    const auto first = makePicture(size);
    const auto second = makePicture(size);
    if (!fromBgr || !toBgr || !first || !second) return 0;
    toPicture(*fromBgr, pattern, *first);
    cv::Mat decoded(size, CV_8UC3);
    uint8_t* const target[] = {decoded.data};
    const int targetStride[] = {static_cast<int>(decoded.step[0])};
    sws_scale(toBgr.get(), first->data, first->linesize, 0, size.height, target, targetStride);
    toPicture(*fromBgr, decoded, *second);
    const double lost = cv::mean(lumaPlane(*first))[0] - cv::mean(lumaPlane(*second))[0];
    return static_cast<int>(std::lround(lost));
}

}  // namespace

std::optional<OutputFormat> outputFormatFor(const std::string& path, std::string& why) {
    const std::string extension = std::filesystem::path(path).extension().string();
    const AVOutputFormat* format =
        extension.empty() ? nullptr : av_guess_format(nullptr, path.c_str(), nullptr);
    if (format == nullptr || format->video_codec == AV_CODEC_ID_NONE) {
        why = extension.empty() ? "the name has no extension to choose a video format by"
                                : "FFmpeg writes no video format with the extension " + extension;
        return std::nullopt;
    }
    std::optional<OutputFormat> result;
    if (std::strcmp(format->name, "avi") != 0 && holds(format, AV_CODEC_ID_H264)) {
        result = OutputFormat{OutputCodec::H264, "H.264", 0, 51, 20};
    } else if (holds(format, AV_CODEC_ID_MPEG4)) {
        result = OutputFormat{OutputCodec::Mpeg4, "MPEG-4", 1, 31, 4};
    } else {
        why = "FFmpeg writes neither H.264 nor MPEG-4 into " + extension + " files";
        return std::nullopt;
    }
    if (encoderFor(result->codec) == nullptr) {
        why = std::string("this FFmpeg has no ") + result->codecName + " encoder";
        return std::nullopt;
    }
    return result;
}

struct VideoFileWriter::State {
    std::unique_ptr<AVFormatContext, FormatDeleter> format;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec;
    std::unique_ptr<AVFrame, FrameDeleter> picture;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<SwsContext, ScalerDeleter> scaler;
    AVStream* stream = nullptr;  // owned by the format context
    cv::Size size;
    int lumaLoss = 0;  // added to every luma sample; see decodingLumaLoss
};

VideoFileWriter::VideoFileWriter() = default;

VideoFileWriter::~VideoFileWriter() { close(); }

bool VideoFileWriter::isOpen() const { return state_ != nullptr; }

long VideoFileWriter::framesWritten() const { return frames_; }

const std::string& VideoFileWriter::error() const { return error_; }

bool VideoFileWriter::open(const std::string& path, cv::Size frameSize,
                           const EncoderSettings& settings) {
    close();
    std::string why;
    const std::optional<OutputFormat> chosen = outputFormatFor(path, why);
    if (!chosen) {
        error_ = why;
        return false;
    }
    const std::string sizeText =
        std::to_string(frameSize.width) + "x" + std::to_string(frameSize.height);
    if (frameSize.width <= 0 || frameSize.height <= 0) {
        error_ = "no frame size to encode: " + sizeText;
        return false;
    }
    if (chosen->codec == OutputCodec::H264 && (frameSize.width % 2 || frameSize.height % 2)) {
        error_ = "H.264 in yuv420p needs an even frame width and height, not " + sizeText +
                 " (write .avi instead)";
        return false;
    }
    auto state = std::make_unique<State>();
    state->size = frameSize;

    AVFormatContext* rawFormat = nullptr;
    int code = avformat_alloc_output_context2(&rawFormat, nullptr, nullptr, path.c_str());
    state->format.reset(rawFormat);
    if (code < 0) {
        error_ = describe(code);
        return false;
    }
    const AVCodec* encoder = encoderFor(chosen->codec);
    state->codec.reset(avcodec_alloc_context3(encoder));
    state->picture.reset(av_frame_alloc());
    state->packet.reset(av_packet_alloc());
    if (!state->codec || !state->picture || !state->packet) {
        error_ = describe(AVERROR(ENOMEM));
        return false;
    }

    AVCodecContext& codec = *state->codec;
    const AVRational rate = av_d2q(settings.framesPerSecond, 65535);
    codec.width = frameSize.width;
    codec.height = frameSize.height;
    codec.pix_fmt = AV_PIX_FMT_YUV420P;
    codec.framerate = rate;
    codec.time_base = av_inv_q(rate);
    codec.color_range = AVCOL_RANGE_MPEG;
    codec.colorspace = AVCOL_SPC_SMPTE170M;  // what swscale's default matrix produces
    codec.thread_count = 0;                  // one per core
    if (state->format->oformat->flags & AVFMT_GLOBALHEADER) {
        codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int quality = settings.quality >= 0 ? settings.quality : chosen->qualityDefault;
    Dictionary codecOptions;
    if (settings.bitRate > 0) {
        codec.bit_rate = settings.bitRate;
    } else if (chosen->codec == OutputCodec::Mpeg4) {
        // As ffmpeg's -q:v: a fixed quantiser scale.
        codec.flags |= AV_CODEC_FLAG_QSCALE;
        codec.global_quality = FF_QP2LAMBDA * quality;
    } else {
        codecOptions.set("crf", std::to_string(quality));
    }
    code = avcodec_open2(&codec, encoder, codecOptions.get());
    if (code < 0) {
        error_ = std::string("the ") + chosen->codecName +
                 " encoder refused its settings: " + describe(code);
        return false;
    }

    state->stream = avformat_new_stream(state->format.get(), nullptr);
    if (state->stream == nullptr) {
        error_ = describe(AVERROR(ENOMEM));
        return false;
    }
    state->stream->time_base = codec.time_base;
    state->stream->avg_frame_rate = rate;
    code = avcodec_parameters_from_context(state->stream->codecpar, &codec);
    if (code < 0) {
        error_ = describe(code);
        return false;
    }
    if (chosen->codec == OutputCodec::Mpeg4) {
        state->stream->codecpar->codec_tag = MKTAG('D', 'I', 'V', 'X');
    }

    AVFrame& picture = *state->picture;
    picture.format = codec.pix_fmt;
    picture.width = codec.width;
    picture.height = codec.height;
    picture.color_range = codec.color_range;
    picture.colorspace = codec.colorspace;
    // A fixed-quantiser encoder takes each picture's own quality, as ffmpeg sets it.
    picture.quality = codec.global_quality;
    code = av_frame_get_buffer(&picture, 0);
    // Accurate rounding and area-averaged chroma: a frame decoded from yuv420p,
    // drawn on and converted back keeps more of its detail than with swscale's
    // default flags (45.6 against 41.1 dB PSNR on vtest.avi).
    state->scaler = makeScaler(frameSize, AV_PIX_FMT_BGR24, codec.pix_fmt, kFromBgrFlags);
    static const int lumaLoss = decodingLumaLoss();
    state->lumaLoss = lumaLoss;
    if (code < 0 || !state->scaler) {
        error_ = describe(code < 0 ? code : AVERROR(ENOMEM));
        return false;
    }

    if ((state->format->oformat->flags & AVFMT_NOFILE) == 0) {
        code = avio_open(&state->format->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (code < 0) {
            error_ = describe(code);
            return false;
        }
    }
    Dictionary muxerOptions;
    // MP4 and MOV: move the index in front of the media data once it is known,
    // so that players can start before the whole file has arrived.
    muxerOptions.set("movflags", "+faststart");
    code = avformat_write_header(state->format.get(), muxerOptions.get());
    if (code < 0) {
        error_ = describe(code);
        return false;
    }
    state_ = std::move(state);
    frames_ = 0;
    error_.clear();
    return true;
}

bool VideoFileWriter::write(const cv::Mat& frame) {
    if (!state_) {
        error_ = "no output video is open";
        return false;
    }
    if (frame.type() != CV_8UC3 || frame.size() != state_->size) {
        error_ = "a frame of " + std::to_string(frame.cols) + "x" + std::to_string(frame.rows) +
                 " does not fit the output video's " + std::to_string(state_->size.width) + "x" +
                 std::to_string(state_->size.height) + " 8-bit BGR frames";
        return false;
    }
    AVFrame& picture = *state_->picture;
    // The encoder may still hold the previous picture; this gives a fresh buffer then.
    int code = av_frame_make_writable(&picture);
    if (code < 0) {
        error_ = describe(code);
        return false;
    }
    toPicture(*state_->scaler, frame, picture);
    if (state_->lumaLoss != 0) {
        cv::Mat luma = lumaPlane(picture);
        cv::add(luma, cv::Scalar::all(state_->lumaLoss), luma);  // saturates at 0 and 255
    }
    picture.pts = frames_;
    if (!encode(*state_->format, *state_->codec, *state_->stream, *state_->packet, &picture,
                error_)) {
        return false;
    }
    ++frames_;
    return true;
}

bool VideoFileWriter::close() {
    if (!state_) return true;
    const std::unique_ptr<State> state = std::move(state_);
    std::string failure;
    bool ok =
        encode(*state->format, *state->codec, *state->stream, *state->packet, nullptr, failure);
    const int trailer = av_write_trailer(state->format.get());
    if (ok && trailer < 0) {
        failure = "finishing the file failed: " + describe(trailer);
        ok = false;
    }
    // Closed here rather than by the owner so that a failed final flush is seen.
    if ((state->format->oformat->flags & AVFMT_NOFILE) == 0) {
        const int closed = avio_closep(&state->format->pb);
        if (ok && closed < 0) {
            failure = "closing the file failed: " + describe(closed);
            ok = false;
        }
    }
    if (!ok) error_ = failure;
    return ok;
}

}  // namespace stview
