// Still images (PNG and JPEG) and picture scaling.
#include "image_io.h"

#include "av_util.h"
#include "picture_convert.h"
#include "user_text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

namespace tavhost::media {

ImageFormat ImageFormatOf(const std::string& path) {
    std::string ext;
    if (const size_t dot = path.rfind('.');
        dot != std::string::npos && path.find('/', dot) == std::string::npos)
        ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "png") return ImageFormat::kPng;
    if (ext == "jpg" || ext == "jpeg") return ImageFormat::kJpeg;
    return ImageFormat::kNone;
}

bool WriteImage(const std::string& path, const std::string& shown, ImageFormat format,
                const uint32_t* pixels, int width, int height, int rowPixels, std::string* error) {
    auto failed = [&](const std::string& why) {
        *error = "cannot write " + shown + ": " + why;
        return false;
    };
    const bool png = format == ImageFormat::kPng;
    const AVCodec* codec = avcodec_find_encoder(png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec)
        return failed(png ? "this FFmpeg has no PNG encoder" : "this FFmpeg has no JPEG encoder");
    // PNG keeps the pixels exactly; JPEG takes full-range BT.601 YUV, as JPEG files do.
    const AVPixelFormat pixFmt = png ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUVJ444P;
    CodecPtr enc(Allocated(avcodec_alloc_context3(codec)));
    enc->width = width;
    enc->height = height;
    enc->pix_fmt = pixFmt;
    enc->time_base = {1, 25};
    if (!png) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * 2;
        enc->color_range = AVCOL_RANGE_JPEG;
    }
    if (int rc = avcodec_open2(enc.get(), codec, nullptr); rc < 0)
        return failed("cannot open the image encoder: " + AvError(rc));
    AvFramePtr frame(Allocated(av_frame_alloc()));
    frame->format = pixFmt;
    frame->width = width;
    frame->height = height;
    if (!png) frame->quality = enc->global_quality;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return failed("out of memory");
    SwsPtr sws(sws_getContext(width, height, AV_PIX_FMT_RGB32, width, height, pixFmt, SWS_POINT,
                              nullptr, nullptr, nullptr));
    if (!sws) return failed("cannot convert the picture");
    if (!png) {
        const int* table = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(sws.get(), table, 1, table, 1, 0, 1 << 16, 1 << 16);
    }
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(pixels)};
    const int srcStride[1] = {rowPixels * 4};
    if (sws_scale(sws.get(), src, srcStride, 0, height, frame->data, frame->linesize) != height)
        return failed("cannot convert the picture");
    PacketPtr pkt(Allocated(av_packet_alloc()));
    if (avcodec_send_frame(enc.get(), frame.get()) < 0 ||
        avcodec_receive_packet(enc.get(), pkt.get()) < 0)
        return failed("encoding failed");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return failed(std::strerror(errno));
    const bool ok = std::fwrite(pkt->data, 1, size_t(pkt->size), f) == size_t(pkt->size);
    const int writeErrno = errno;
    if (std::fclose(f) != 0 || !ok) return failed(std::strerror(ok ? errno : writeErrno));
    return true;
}

bool Scale(const uint32_t* src, int srcW, int srcH, int srcRowPixels, uint32_t* dst, int dstW,
           int dstH, int dstRowPixels, bool fast) {
    SwsPtr sws(sws_getContext(srcW, srcH, AV_PIX_FMT_RGB32, dstW, dstH, AV_PIX_FMT_RGB32,
                              fast ? SWS_FAST_BILINEAR : SWS_AREA, nullptr, nullptr, nullptr));
    if (!sws) return false;
    // swscale may write whole vectors past a row's end: it scales into rows
    // with room to spare, which are then copied out.
    const int stride = (dstW * 4 + 63) / 64 * 64 + 64;
    std::vector<uint8_t> scratch(size_t(stride) * size_t(dstH) + 64);
    const uint8_t* s[1] = {reinterpret_cast<const uint8_t*>(src)};
    const int ss[1] = {srcRowPixels * 4};
    uint8_t* d[1] = {scratch.data()};
    const int ds[1] = {stride};
    if (sws_scale(sws.get(), s, ss, 0, srcH, d, ds) != dstH) return false;
    for (int y = 0; y < dstH; ++y)
        std::memcpy(dst + ptrdiff_t(y) * dstRowPixels, scratch.data() + ptrdiff_t(y) * stride,
                    size_t(dstW) * 4);
    return true;
}

}  // namespace tavhost::media
