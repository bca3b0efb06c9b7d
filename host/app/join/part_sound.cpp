#include "part_sound.h"

#include <cmath>

#include "media_input.h"
#include "media_types.h"
#include "user_text.h"

namespace tavhost {

std::vector<int> PartSound::Streams(const AVFormatContext* ic) {
    std::vector<int> out;
    for (unsigned i = 0; i < ic->nb_streams && out.size() < 2; ++i)
        if (ic->streams[i]->codecpar->codec_id == AV_CODEC_ID_AAC) out.push_back(int(i));
    return out;
}

bool PartSound::Accept(const media::AacConfig& ours) {
    accepted_ = false;
    for (const std::string& path : parts_) {
        media::InputPtr in;
        std::string ignored;
        if (!media::OpenInput(path, &in, &ignored, "part")) return false;
        const std::vector<int> s = Streams(in.get());
        if (s.empty()) continue;
        // A render's parts all keep them, or none does.
        accepted_ = s.size() == 2 &&
                    SameAacConfig(media::AacConfigOf(*in->streams[s[0]]->codecpar), ours) &&
                    SameAacConfig(media::AacConfigOf(*in->streams[s[1]]->codecpar), ours);
        return accepted_;
    }
    return false;
}

bool PartSound::Open(const std::string& path, int64_t start, std::string* error) {
    input_.reset();
    streams_.clear();
    start_ = start;
    path_ = path;
    ended_ = !accepted_;
    if (!accepted_) return true;
    if (!media::OpenInput(path, &input_, error, "part")) return false;
    streams_ = Streams(input_.get());
    ended_ = streams_.size() != 2;
    return true;
}

bool PartSound::ReadUntil(int64_t end, std::string* error) {
    while (!ended_) {
        if (!pkt_->data) {
            const int rc = av_read_frame(input_.get(), pkt_.get());
            if (rc == AVERROR_EOF) {
                ended_ = true;
                break;
            }
            if (rc < 0) {
                *error = "cannot read part " + Quoted(path_) + ": " + media::AvError(rc);
                return false;
            }
            const int clip = pkt_->stream_index == streams_[0]   ? 0
                             : pkt_->stream_index == streams_[1] ? 1
                                                                 : -1;
            if (clip < 0 || pkt_->pts == AV_NOPTS_VALUE) {
                av_packet_unref(pkt_.get());
                continue;
            }
            // The container may keep times coarser than a sample: the
            // block's place is the nearest packet boundary.
            const AVStream* st = input_->streams[pkt_->stream_index];
            const double at = double(start_) + double(pkt_->pts) * av_q2d(st->time_base) *
                                                   double(st->codecpar->sample_rate);
            pkt_->pts = std::llround(at / media::kPacketSamples) * media::kPacketSamples;
            heldClip_ = clip;
        }
        if (pkt_->pts >= end) break;
        held_[pkt_->pts] = {heldClip_, media::SharedPacket(pkt_.get())};
        av_packet_unref(pkt_.get());
    }
    // Blocks the writer is done with.
    held_.erase(held_.begin(), held_.lower_bound(at_ - 8 * media::kPacketSamples));
    return true;
}

bool PartSound::Pass(const float* data, int samples, int channels, Sink& sink, std::string* error) {
    if (!ReadUntil(at_ + samples, error)) return false;
    for (int done = 0; done < samples;) {
        const int64_t block = at_ / media::kPacketSamples * media::kPacketSamples;
        const int n = int(std::min<int64_t>(samples - done, block + media::kPacketSamples - at_));
        const float* from = data + size_t(done) * size_t(channels);
        const auto it = held_.find(block);
        bool ok = true;
        if (it == held_.end()) {
            ok = sink.Audio(from, n, error);
        } else {
            media::SoundOrigin origin{it->second.clip, {}, true};
            if (block == at_) origin.anchors.push_back({0, block, it->second.packet});
            ok = sink.ClipAudio(from, n, origin, error);
        }
        if (!ok) return false;
        done += n;
        at_ += n;
    }
    return true;
}

}  // namespace tavhost
