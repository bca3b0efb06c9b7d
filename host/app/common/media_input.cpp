// Opening a clip and its decoders, with the stop signals obeyed while FFmpeg waits.
#include "media_input.h"

#include "interrupt.h"
#include "user_text.h"

namespace tavhost::media {

bool OpenInput(const std::string& path, InputPtr* out, std::string* error, const char* what,
               const std::string& shown) {
    const std::string name = shown.empty() ? Quoted(path) : shown;
    AVFormatContext* fmt = avformat_alloc_context();
    if (!fmt) {
        *error = std::string("cannot open ") + what + " " + name + ": out of memory";
        return false;
    }
    fmt->interrupt_callback = InterruptCallback();
    if (int rc = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr); rc < 0) {
        *error = std::string("cannot open ") + what + " " + name + ": " + AvError(rc);
        return false;
    }
    out->reset(fmt);
    if (int rc = avformat_find_stream_info(fmt, nullptr); rc < 0) {
        *error = std::string("cannot read ") + what + " " + name + ": " + AvError(rc);
        return false;
    }
    return true;
}

CodecPtr OpenDecoder(AVStream* stream, std::string* error, bool fast) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        const AVCodecID id = stream->codecpar->codec_id;
        *error = id == AV_CODEC_ID_NONE ? std::string("a codec FFmpeg does not know")
                                        : std::string("no decoder for ") + avcodec_get_name(id);
        return nullptr;
    }
    CodecPtr ctx(Allocated(avcodec_alloc_context3(codec)));
    if (int rc = avcodec_parameters_to_context(ctx.get(), stream->codecpar); rc < 0) {
        *error = std::string("cannot set up the decoder: ") + AvError(rc);
        return nullptr;
    }
    ctx->thread_count = 0;
    ctx->pkt_timebase = stream->time_base;
    if (fast) {
        // Speed over exactness: no deblocking, the codec's shortcuts.
        ctx->skip_loop_filter = AVDISCARD_ALL;
        ctx->flags2 |= AV_CODEC_FLAG2_FAST;
        ctx->thread_count = 1;
    }
    if (int rc = avcodec_open2(ctx.get(), codec, nullptr); rc < 0) {
        *error = std::string("cannot open the decoder: ") + AvError(rc);
        return nullptr;
    }
    return ctx;
}

}  // namespace tavhost::media
