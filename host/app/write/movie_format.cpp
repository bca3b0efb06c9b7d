#include "movie_format.h"

#include <algorithm>

#include "av_util.h"
#include "h264_units.h"
#include "user_text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace tavhost::media {

SoundFormat SoundFormatFor(const std::string& format, SoundFormat wanted) {
    if (format == "webm") return {48000, std::clamp(wanted.channels, 1, 2)};
    // AAC: the clip's rate and channels if the encoder opens with them.
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac || wanted.channels < 1 || wanted.channels > 8) return {};
    bool rateKnown = false;
    for (const int* r = aac->supported_samplerates; r && *r; ++r) rateKnown |= *r == wanted.rate;
    if (!rateKnown) wanted.rate = kSampleRate;
    CodecPtr trial(Allocated(avcodec_alloc_context3(aac)));
    trial->sample_fmt = AV_SAMPLE_FMT_FLTP;
    trial->sample_rate = wanted.rate;
    av_channel_layout_default(&trial->ch_layout, wanted.channels);
    trial->bit_rate = 96000 * int64_t(wanted.channels);
    if (avcodec_open2(trial.get(), aac, nullptr) < 0) return {wanted.rate, kChannels};
    return wanted;
}

OutputColour OutputColourFor(Matrix matrix) {
    const bool hd = matrix == Matrix::kBt709;
    return {hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M, hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M,
            hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M};
}

ColourTags OutputColourTags(Matrix matrix) {
    const OutputColour c = OutputColourFor(matrix);
    return {av_color_primaries_name(c.primaries), av_color_transfer_name(c.transfer),
            av_color_space_name(c.matrix), av_color_range_name(AVCOL_RANGE_MPEG)};
}

bool EncoderTakesSize(int width, int height) {
    return width > 0 && height > 0 &&
           av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) == 0;
}

std::string X264SpanParams(const PassThrough& copy) {
    std::string params = "sps-id=" + std::to_string(copy.encoderSetId);
    const int refs = copy.dpb.refFrames;
    if (refs >= 1 && copy.dpb.decodeBuffering == refs) {
        params += ":ref=" + std::to_string(refs);
        if (refs == 1)
            params += ":bframes=0";
        else if (refs < 4)
            params += ":b-pyramid=none";
    }
    return params;
}

std::string BufferMismatch(const std::vector<uint8_t>& encoderSets, const h264::DpbNeeds& theirs) {
    h264::ParameterSets ours;
    h264::DpbNeeds needs;
    if (!h264::ReadExtradata(encoderSets.data(), encoderSets.size(), &ours) || ours.sps.empty() ||
        !h264::ReadDpbNeeds({ours.sps[0].data(), ours.sps[0].size()}, &needs))
        return "the encoder's parameter sets cannot be read";
    if (needs == theirs) return "";
    auto buffer = [](const h264::DpbNeeds& n) {
        return std::to_string(n.refFrames) + " reference frames, " +
               (n.decodeBuffering < 0 ? std::string("the level's buffer")
                                      : std::to_string(n.decodeBuffering) + " pictures buffered");
    };
    return "the copied clips keep " + buffer(theirs) + ", the encoder " + buffer(needs) +
           "; splicing them could lose pictures in some players";
}

CodecPtr OpenVideoCoder(const MovieOptions& options, bool webm, bool globalHeader,
                        std::string* why) {
    const char* name = webm ? "libvpx-vp9" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        *why = std::string("this FFmpeg has no ") + name + " encoder";
        return nullptr;
    }
    CodecPtr enc(Allocated(avcodec_alloc_context3(codec)));
    AVCodecContext* v = enc.get();
    const OutputFormat& f = options.format;
    v->width = f.width;
    v->height = f.height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = {f.fps.den, f.fps.num};
    v->framerate = {f.fps.num, f.fps.den};
    v->gop_size = 2 * f.fps.num / std::max(f.fps.den, 1);
    v->thread_count = 0;
    // The pictures are converted with the matrix players assume for this
    // size (BT.709 from 720 lines up, BT.601 below), and tagged with it.
    const OutputColour colour = OutputColourFor(options.matrix);
    v->colorspace = colour.matrix;
    v->color_primaries = colour.primaries;
    v->color_trc = colour.transfer;
    v->color_range = AVCOL_RANGE_MPEG;
    const Encoding& e = options.encoding;
    if (webm) {
        const bool fast = e.preset == "ultrafast";
        av_opt_set(v->priv_data, "deadline", fast ? "realtime" : "good", 0);
        av_opt_set_int(v->priv_data, "cpu-used", fast ? 8 : 4, 0);
        av_opt_set_int(v->priv_data, "row-mt", 1, 0);
        v->bit_rate = 0;
        av_opt_set_int(v->priv_data, "crf", std::min(63, e.crf + 11), 0);
    } else {
        av_opt_set(v->priv_data, "preset", e.preset.c_str(), 0);
        av_opt_set(v->priv_data, "crf", std::to_string(e.crf).c_str(), 0);
        // Our parameter sets under an id the copied packets leave free,
        // keeping the picture buffer theirs keep.
        if (options.copy)
            av_opt_set(v->priv_data, "x264-params", X264SpanParams(*options.copy).c_str(), 0);
    }
    if (globalHeader || options.copy) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(v, codec, nullptr); rc < 0) {
        *why = std::string("the ") + name + " encoder refused its settings (preset " +
               Quoted(e.preset) + ", crf " + std::to_string(e.crf) + "): " + AvError(rc);
        return nullptr;
    }
    return enc;
}

CodecPtr OpenSoundCoder(const AVCodec* codec, SoundFormat sound, bool webm, bool globalHeader,
                        std::string* why) {
    CodecPtr enc(Allocated(avcodec_alloc_context3(codec)));
    AVCodecContext* a = enc.get();
    a->sample_fmt = codec->id == AV_CODEC_ID_AAC ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
    a->sample_rate = sound.rate;
    av_channel_layout_default(&a->ch_layout, sound.channels);
    // 96 kb/s a channel for AAC (192 for stereo), 64 for Opus.
    a->bit_rate = int64_t(sound.channels) * (webm ? 64000 : 96000);
    a->time_base = {1, sound.rate};
    if (globalHeader) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(a, codec, nullptr); rc < 0) {
        *why = "cannot open the audio encoder: " + AvError(rc);
        return nullptr;
    }
    return enc;
}

AacConfig AacConfigFor(SoundFormat sound) {
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    std::string why;
    CodecPtr enc = aac ? OpenSoundCoder(aac, sound, false, true, &why) : nullptr;
    AacConfig config;
    if (!enc || !enc->extradata) return config;
    config.aac = true;
    config.rate = enc->sample_rate;
    config.channels = enc->ch_layout.nb_channels;
    config.bytes.assign(enc->extradata, enc->extradata + enc->extradata_size);
    return config;
}

std::string SpanMismatch(const MovieOptions& options, const PassThrough& copy) {
    MovieOptions spans = options;
    spans.copy = copy;
    std::string why;
    CodecPtr enc = OpenVideoCoder(spans, false, true, &why);
    if (!enc) return why;
    return BufferMismatch({enc->extradata, enc->extradata + enc->extradata_size}, copy.dpb);
}

}  // namespace tavhost::media
