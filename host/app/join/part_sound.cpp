#include "part_sound.h"

#include <algorithm>
#include <cmath>

#include "media_types.h"
#include "movie_writer.h"

namespace tavhost {

std::vector<int> PartSound::Streams(const AVFormatContext* ic) {
    std::vector<int> out;
    for (unsigned i = 0; i < ic->nb_streams && out.size() < 2; ++i)
        if (ic->streams[i]->codecpar->codec_id == AV_CODEC_ID_AAC) out.push_back(int(i));
    return out;
}

void PartSound::Start(const std::string& path, int64_t start, int channels,
                      std::vector<int> streams, bool copying) {
    path_ = path;
    start_ = start;
    at_ = start;
    channels_ = channels;
    streams_ = std::move(streams);
    copying_ = copying && streams_.size() == 2;
    // Packets held from the part before stay: its last ones are for the
    // blocks that reach into this one.
    sound_.clear();
    readTo_ = INT64_MIN;
}

int64_t PartSound::SampleOf(const AVFormatContext* ic, const AVPacket* pkt) const {
    const AVStream* st = ic->streams[pkt->stream_index];
    const int64_t t = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (t == AV_NOPTS_VALUE) return INT64_MIN;
    return start_ + std::llround(double(t) * av_q2d(st->time_base) * rate_);
}

void PartSound::Read(const AVFormatContext* ic, const AVPacket* pkt) {
    if (!copying_) return;
    if (rate_ == 0) rate_ = ic->streams[streams_[0]]->codecpar->sample_rate;
    const int clip = pkt->stream_index == streams_[0]   ? 0
                     : pkt->stream_index == streams_[1] ? 1
                                                        : -1;
    readTo_ = std::max(readTo_, SampleOf(ic, pkt));
    if (clip < 0 || pkt->pts == AV_NOPTS_VALUE) return;
    // The container may keep times coarser than a sample: the block's place
    // is the nearest packet boundary.
    const AVStream* st = ic->streams[pkt->stream_index];
    const double at = double(start_) + double(pkt->pts) * av_q2d(st->time_base) * double(rate_);
    const int64_t block = std::llround(at / media::kPacketSamples) * media::kPacketSamples;
    held_[block] = {clip, media::SharedPacket(pkt)};
}

void PartSound::Take(const float* data, int samples) {
    sound_.insert(sound_.end(), data, data + size_t(samples) * size_t(channels_));
}

bool PartSound::Release(bool end, Sink& sink, std::string* error) {
    int64_t upTo = at_ + int64_t(sound_.size() / size_t(channels_));
    if (copying_ && !end)
        upTo = std::min(upTo, readTo_ == INT64_MIN
                                  ? at_
                                  // A clip packet comes at most this late.
                                  : readTo_ - int64_t(media::kInterleaveSeconds) * rate_ -
                                        media::kPacketSamples);
    std::vector<float> run;
    while (at_ < upTo) {
        const int64_t block = at_ / media::kPacketSamples * media::kPacketSamples;
        const int n = int(std::min<int64_t>(upTo - at_, block + media::kPacketSamples - at_));
        run.assign(sound_.begin(), sound_.begin() + ptrdiff_t(size_t(n) * size_t(channels_)));
        const auto it = held_.find(block);
        bool ok = true;
        if (it == held_.end()) {
            ok = sink.Audio(run.data(), n, error);
        } else {
            media::SoundOrigin origin{it->second.clip, {}, true};
            if (block == at_) origin.anchors.push_back({0, block, it->second.packet});
            ok = sink.ClipAudio(run.data(), n, origin, error);
        }
        if (!ok) return false;
        sound_.erase(sound_.begin(), sound_.begin() + ptrdiff_t(size_t(n) * size_t(channels_)));
        at_ += n;
        // Blocks the writer is done with.
        held_.erase(held_.begin(), held_.lower_bound(at_ - 8 * media::kPacketSamples));
    }
    return true;
}

}  // namespace tavhost
