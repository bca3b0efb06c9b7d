#include "movie_format.h"

#include <algorithm>

#include "av_util.h"
#include "h264_units.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
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

ColourTags OutputColourTags(int height) {
    const OutputColour c = OutputColourFor(OutputMatrix(height));
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

}  // namespace tavhost::media
