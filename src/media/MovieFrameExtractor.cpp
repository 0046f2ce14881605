#include "media/MovieFrameExtractor.h"

#include <QTransform>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace ovalis {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

using FormatPointer = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPointer = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePointer = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPointer = std::unique_ptr<AVPacket, PacketFreer>;
using ScalerPointer = std::unique_ptr<SwsContext, ScalerFreer>;

// Demuxers that read stills or text, not movies: such files are left to the
// image decoder or shown by their icon.
bool isMovieFormat(const AVInputFormat *format)
{
    const QByteArray name(format->name);
    return name != "tty" && !name.startsWith("image2") && !name.endsWith("_pipe");
}

// Decodes from the current position to the frame on screen at target (in
// the stream's time base): the last frame that starts at or before it, or the
// first one when decoding begins after it.
FramePointer decodeFrameAt(AVFormatContext *format, AVCodecContext *codec, int streamIndex, qint64 target)
{
    PacketPointer packet(av_packet_alloc());
    FramePointer decoded(av_frame_alloc());
    FramePointer shown;
    if (!packet || !decoded)
        return {};
    bool flushing = false;
    for (;;) {
        if (!flushing) {
            const int read = av_read_frame(format, packet.get());
            if (read < 0) {
                flushing = true;
                avcodec_send_packet(codec, nullptr);
            } else {
                const bool ours = packet->stream_index == streamIndex;
                const int sent = ours ? avcodec_send_packet(codec, packet.get()) : 0;
                av_packet_unref(packet.get());
                if (sent < 0 && sent != AVERROR(EAGAIN))
                    continue; // a damaged packet; later ones may decode
            }
        }
        for (;;) {
            const int received = avcodec_receive_frame(codec, decoded.get());
            if (received == AVERROR(EAGAIN))
                break;
            if (received < 0)
                return shown;
            const qint64 pts = decoded->best_effort_timestamp;
            if (shown && pts != AV_NOPTS_VALUE && pts > target)
                return shown;
            shown.reset(av_frame_clone(decoded.get()));
            av_frame_unref(decoded.get());
            if (pts != AV_NOPTS_VALUE && pts >= target)
                return shown;
        }
    }
}

QImage toImage(const AVFrame *frame, AVRational sampleAspect, int maxSide)
{
    double displayWidth = frame->width;
    if (sampleAspect.num > 0 && sampleAspect.den > 0)
        displayWidth *= av_q2d(sampleAspect);
    double scale = 1.0;
    if (maxSide > 0)
        scale = std::min(1.0, maxSide / std::max(displayWidth, double(frame->height)));
    const int width = std::max(1, int(std::lround(displayWidth * scale)));
    const int height = std::max(1, int(std::lround(frame->height * scale)));
    ScalerPointer scaler(sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), width, height,
                                        AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
        return {};
    return image;
}

} // namespace

int MovieFrameExtractor::clockwiseRotation(const qint32 matrix[9])
{
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (std::isnan(counterClockwise))
        return 0;
    const int quarterTurns = int(std::lround(-counterClockwise / 90.0));
    return ((quarterTurns % 4) + 4) % 4 * 90;
}

QImage MovieFrameExtractor::frameAt(const QString &path, double seconds, int maxSide)
{
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return {};
    FormatPointer format(opened);
    if (!isMovieFormat(format->iformat) || avformat_find_stream_info(format.get(), nullptr) < 0)
        return {};
    const AVCodec *decoder = nullptr;
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || !decoder)
        return {};
    AVStream *stream = format->streams[streamIndex];
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return {};
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != streamIndex)
            format->streams[i]->discard = AVDISCARD_ALL;

    CodecPointer codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0)
        return {};
    // Thumbnails are decoded several at a time on a pool already.
    codec->thread_count = 1;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return {};

    qint64 target = av_rescale_q(qint64(seconds * AV_TIME_BASE), AV_TIME_BASE_Q, stream->time_base);
    if (stream->start_time != AV_NOPTS_VALUE)
        target += stream->start_time;
    if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) >= 0)
        avcodec_flush_buffers(codec.get());

    const FramePointer frame = decodeFrameAt(format.get(), codec.get(), streamIndex, target);
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return {};
    const AVRational sampleAspect = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio
                                                                       : stream->sample_aspect_ratio;
    QImage image = toImage(frame.get(), sampleAspect, maxSide);
    if (image.isNull())
        return {};

    size_t sideDataSize = 0;
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &sideDataSize);
    if (matrix && sideDataSize >= 9 * sizeof(qint32)) {
        const int rotation = clockwiseRotation(reinterpret_cast<const qint32 *>(matrix));
        if (rotation != 0)
            image = image.transformed(QTransform().rotate(rotation));
    }
    return image;
}

} // namespace ovalis
