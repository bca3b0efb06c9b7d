// The filter graph a clip's pictures go through: deinterlace, turn upright,
// convert with the clip's own matrix (or stay YUV when the clip already has
// the output's), fit into the output frame, retime to the output rate.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "clip_reader.h"
#include "picture_convert.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
}

namespace tavhost::media {

// Target size of the picture inside the output frame, and where it sits.
inline void FittedSize(const ClipReader::Options& o, const ClipInfo& info, int* sw, int* sh) {
    const int ow = o.output.width, oh = o.output.height;
    const double dw = info.width, dh = info.height;
    if (o.fit == Fit::kStretch) {
        *sw = ow;
        *sh = oh;
        return;
    }
    const double s = o.fit == Fit::kPad ? std::min(ow / dw, oh / dh) : std::max(ow / dw, oh / dh);
    *sw = std::max(1, int(std::lround(dw * s)));
    *sh = std::max(1, int(std::lround(dh * s)));
    // Within a pixel of its own size: not scaled, only padded or cut.
    if (std::abs(*sw - dw) <= 1 && std::abs(*sh - dh) <= 1) {
        *sw = int(dw);
        *sh = int(dh);
    }
    if (o.fit == Fit::kPad) {
        *sw = std::min(*sw, ow);
        *sh = std::min(*sh, oh);
    } else {
        *sw = std::max(*sw, ow);
        *sh = std::max(*sh, oh);
    }
}

// A YUV picture in the matrix and range the output is encoded with, that
// fills the output frame as it is.
inline bool KeepsYuv(const ClipReader::Options& o, const ClipInfo& info, const AVFrame* f) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    int sw, sh;
    FittedSize(o, info, &sw, &sh);
    return desc && desc->nb_components >= 3 && sw == o.output.width && sh == o.output.height &&
           !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
           info.matrix == MatrixName(o.matrix) && info.range != "full" && !info.hdr;
}

inline std::string GraphDescription(const ClipReader::Options& o, const ClipInfo& info,
                                    AVRational tb, const AVFrame* f) {
    const AVRational sar =
        f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : AVRational{1, 1};
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "buffer=video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", f->width,
                  f->height, f->format, tb.num, tb.den, sar.num, sar.den);
    std::string d = buffer;
    // Interlaced pictures are deinterlaced: all of a stream that says it is
    // interlaced, and in one that does not say, each picture its decoder
    // flags interlaced (deint=interlaced leaves progressive ones as they are).
    if (info.interlaced || (info.fieldsUnknown && !info.still))
        d += ",bwdif=mode=send_frame:deint=interlaced";
    d += info.upright;
    // A picture with transparency is laid over black, the output's background,
    // as an editor shows it: its colours weighed by their opacity.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    if (desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA)) {
        if (desc->flags & AV_PIX_FMT_FLAG_PAL) d += ",format=pix_fmts=rgba";
        d += ",premultiply=inplace=1";
    }
    // HDR (PQ or HLG) is tone-mapped to SDR BT.709 with FFmpeg's zscale and
    // tonemap filters: linear light with 100 nits as SDR white, BT.709
    // primaries, and a curve that leaves what SDR can show nearly as it is
    // (up to 90 % of its white) and rolls the highlights off above it.
    // From there on it is a BT.709 picture.
    std::string matrix = info.matrix, range = info.range;
    if (info.hdr) {
        d += ",zscale=t=linear:npl=100,format=pix_fmts=gbrpf32le,zscale=p=bt709,"
             "tonemap=tonemap=mobius:param=0.9:desat=0,zscale=t=bt709:m=bt709:r=tv,format=pix_fmts="
             "yuv444p";
        matrix = "bt709";
        range = "limited";
    }
    int sw, sh;
    FittedSize(o, info, &sw, &sh);
    const int ow = o.output.width, oh = o.output.height;
    if (KeepsYuv(o, info, f)) {
        // Already in the output's matrix and range: scaled (if at all)
        // within YUV, so the picture can reach the encoder untouched.
        std::snprintf(buffer, sizeof buffer, ",scale=w=%d:h=%d:flags=%s,format=pix_fmts=%s", sw, sh,
                      o.fastScaling ? "fast_bilinear" : "bicubic",
                      av_get_pix_fmt_name(AV_PIX_FMT_YUV420P));
    } else {
        std::snprintf(buffer, sizeof buffer,
                      ",scale=w=%d:h=%d:flags=%s:in_color_matrix=%s:in_range=%s:out_range=full"
                      ",format=pix_fmts=%s",
                      sw, sh, o.fastScaling ? "fast_bilinear" : "bicubic", matrix.c_str(),
                      range == "full" ? "full" : "limited", av_get_pix_fmt_name(AV_PIX_FMT_RGB32));
    }
    d += buffer;
    if (sw != ow || sh != oh) {
        if (o.fit == Fit::kPad)
            std::snprintf(buffer, sizeof buffer, ",pad=w=%d:h=%d:x=%d:y=%d:color=black", ow, oh,
                          (ow - sw) / 2, (oh - sh) / 2);
        else
            std::snprintf(buffer, sizeof buffer, ",crop=w=%d:h=%d", ow, oh);
        d += buffer;
    }
    std::snprintf(buffer, sizeof buffer, ",setsar=1,fps=fps=%d/%d:start_time=0:round=near",
                  o.output.fps.num, o.output.fps.den);
    d += buffer;
    d += ",buffersink";
    return d;
}

}  // namespace tavhost::media
