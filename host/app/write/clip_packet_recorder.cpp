#include "clip_packet_recorder.h"

#include "movie_format.h"

namespace tavhost::media {

bool ClipPacketRecorder::Open(std::string* error) {
    std::string why;
    CodecPtr aac = OpenSoundCoder(avcodec_find_encoder(AV_CODEC_ID_AAC), sound_, false,
                                  muxer_.GlobalHeader(), &why);
    if (!aac) {
        *error = muxer_.Failed(why);
        return false;
    }
    for (AVStream*& s : streams_) {
        s = muxer_.AddStream();
        s->time_base = {1, sound_.rate};
        if (avcodec_parameters_from_context(s->codecpar, aac.get()) < 0) {
            *error = muxer_.Failed("cannot describe the clips' sound");
            return false;
        }
    }
    return true;
}

bool ClipPacketRecorder::Record(int samples, const SoundOrigin* origin, std::string* error) {
    origins_.Note(samples, origin);
    for (auto& anchored = origins_.Anchored(); !anchored.empty(); anchored.pop_front()) {
        const SoundOrigins::PacketStart& s = anchored.front();
        av_packet_unref(pkt_.get());
        if (av_packet_ref(pkt_.get(), s.packet.get()) < 0) throw std::bad_alloc();
        av_packet_free_side_data(pkt_.get());
        pkt_->pts = pkt_->dts = s.at;
        pkt_->duration = kPacketSamples;
        pkt_->flags |= AV_PKT_FLAG_KEY;
        if (!muxer_.Write(pkt_.get(), AVRational{1, sound_.rate}, streams_[size_t(s.clip % 2)],
                          error))
            return false;
    }
    return true;
}

}  // namespace tavhost::media
