// Small pieces every FFmpeg user in tavhost shares: owning pointers that
// free each object with its own call, and error codes as text.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <new>
#include <string>
#include <type_traits>

namespace tavhost::media {

inline std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// An FFmpeg allocation, checked: one that fails is out of memory, thrown to
// the entry point (main, a reader's thread), which says it once and ends the
// work, its staged outputs removed as the stack unwinds.
template <class T>
T* Allocated(T* p) {
    if (!p) throw std::bad_alloc();
    return p;
}

// A new reference to `p`'s data, shared: a demuxed packet handed on to a
// later stage without copying it.
inline std::shared_ptr<const AVPacket> SharedPacket(const AVPacket* p) {
    AVPacket* ref = Allocated(av_packet_alloc());
    if (av_packet_ref(ref, p) < 0) {
        av_packet_free(&ref);
        throw std::bad_alloc();
    }
    return {ref, [](const AVPacket* q) {
                AVPacket* owned = const_cast<AVPacket*>(q);
                av_packet_free(&owned);
            }};
}

template <class T, auto Free>
struct Freer {
    void operator()(T* p) const {
        if constexpr (std::is_invocable_v<decltype(Free), T**>)
            Free(&p);
        else
            Free(p);
    }
};
template <class T, auto Free>
using AvPtr = std::unique_ptr<T, Freer<T, Free>>;

using InputPtr = AvPtr<AVFormatContext, avformat_close_input>;
using CodecPtr = AvPtr<AVCodecContext, avcodec_free_context>;
using AvFramePtr = AvPtr<AVFrame, av_frame_free>;
using PacketPtr = AvPtr<AVPacket, av_packet_free>;
using SwsPtr = AvPtr<SwsContext, sws_freeContext>;
using SwrPtr = AvPtr<SwrContext, swr_free>;
using GraphPtr = AvPtr<AVFilterGraph, avfilter_graph_free>;

}  // namespace tavhost::media
