#include "TestMovieWriter.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace ovalis::test {

namespace {

bool drain(AVCodecContext *codec, AVFormatContext *format, AVStream *stream, AVPacket *packet)
{
    for (;;) {
        const int received = avcodec_receive_packet(codec, packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return true;
        if (received < 0)
            return false;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(format, packet) < 0)
            return false;
    }
}

} // namespace

std::array<qint32, 9> TestMovieWriter::clockwiseMatrix(int quarterTurns)
{
    constexpr qint32 one = 1 << 16;
    // (cos, sin) of the clockwise angle, as the rows of the matrix want them.
    static constexpr qint32 cosines[4] = {one, 0, -one, 0};
    static constexpr qint32 sines[4] = {0, one, 0, -one};
    const int turn = ((quarterTurns % 4) + 4) % 4;
    return {cosines[turn], sines[turn], 0, -sines[turn], cosines[turn], 0, 0, 0, 1 << 30};
}

bool TestMovieWriter::write(const QString &path, const QSize &size, int fps, int frameCount,
                            const std::function<QImage(int)> &frameAt, int quarterTurns)
{
    const QByteArray file = path.toLocal8Bit();
    AVFormatContext *format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, nullptr, file.constData()) < 0 || !format)
        return false;
    const AVCodec *encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVStream *stream = encoder ? avformat_new_stream(format, nullptr) : nullptr;
    AVCodecContext *codec = encoder ? avcodec_alloc_context3(encoder) : nullptr;
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    SwsContext *scaler = sws_getContext(size.width(), size.height(), AV_PIX_FMT_RGB32, size.width(), size.height(),
                                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    bool ok = stream && codec && frame && packet && scaler;
    if (ok) {
        codec->width = size.width();
        codec->height = size.height();
        codec->time_base = {1, fps};
        codec->framerate = {fps, 1};
        codec->pix_fmt = AV_PIX_FMT_YUV420P;
        codec->gop_size = fps;
        codec->bit_rate = 800000;
        if (format->oformat->flags & AVFMT_GLOBALHEADER)
            codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        ok = avcodec_open2(codec, encoder, nullptr) >= 0 && avcodec_parameters_from_context(stream->codecpar, codec) >= 0;
    }
    if (ok) {
        stream->time_base = codec->time_base;
        if (quarterTurns % 4 != 0) {
            uint8_t *matrix = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(qint32));
            ok = matrix != nullptr;
            if (ok)
                std::memcpy(matrix, clockwiseMatrix(quarterTurns).data(), 9 * sizeof(qint32));
        }
    }
    ok = ok && avio_open(&format->pb, file.constData(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(format, nullptr) >= 0;
    if (ok) {
        frame->format = codec->pix_fmt;
        frame->width = codec->width;
        frame->height = codec->height;
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    for (int index = 0; ok && index < frameCount; ++index) {
        const QImage image = frameAt(index).convertToFormat(QImage::Format_RGB32).scaled(size);
        const uint8_t *source[4] = {image.constBits(), nullptr, nullptr, nullptr};
        const int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
        ok = av_frame_make_writable(frame) >= 0
             && sws_scale(scaler, source, strides, 0, size.height(), frame->data, frame->linesize) > 0;
        frame->pts = index;
        ok = ok && avcodec_send_frame(codec, frame) >= 0 && drain(codec, format, stream, packet);
    }
    if (ok)
        ok = avcodec_send_frame(codec, nullptr) >= 0 && drain(codec, format, stream, packet) && av_write_trailer(format) >= 0;
    if (format->pb)
        avio_closep(&format->pb);
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avformat_free_context(format);
    return ok;
}

} // namespace ovalis::test
