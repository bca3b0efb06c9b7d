#include "sound_origins.h"

#include <algorithm>

extern "C" {
#include <libavcodec/packet.h>
}

namespace tavhost::media {

void SoundOrigins::Note(int samples, const SoundOrigin* origin) {
    if (origin) {
        if (!runs_.empty() && runs_.back().clip == origin->clip && runs_.back().end == received_)
            runs_.back().end += samples;
        else
            runs_.push_back({received_, received_ + samples, origin->clip});
        for (const SoundAnchor& a : origin->anchors)
            if (a.packet && a.offset >= 0 && a.offset < samples &&
                (soundStart_ + received_ + a.offset) % chunk_ == 0)
                starts_.push_back({received_ + a.offset, origin->clip, a.packet});
        if (!origin->decoded) undecoded_.push_back({received_, received_ + samples});
    }
    received_ += samples;
    // A packet whose whole block has come, all of it the clip's sound unchanged.
    while (!starts_.empty() && starts_.front().at + chunk_ <= received_) {
        PacketStart s = std::move(starts_.front());
        starts_.pop_front();
        while (!runs_.empty() && runs_.front().end <= s.at) runs_.pop_front();
        const bool covered = std::any_of(runs_.begin(), runs_.end(), [&](const CleanRun& r) {
            return r.clip == s.clip && r.start <= s.at && r.end >= s.at + chunk_;
        });
        if (covered) anchored_.push_back(std::move(s));
    }
}

bool SoundOrigins::PacketAt(int64_t at, PacketStart* start) const {
    const auto s = std::find_if(anchored_.begin(), anchored_.end(),
                                [at](const PacketStart& p) { return p.at >= at; });
    if (s == anchored_.end() || s->at != at || s + 1 == anchored_.end() ||
        (s + 1)->at != at + chunk_ || (s + 1)->clip != s->clip)
        return false;
    *start = *s;
    return true;
}

SpliceBlock SoundOrigins::Describe(int64_t block, bool ending,
                                   std::shared_ptr<const AVPacket>* packet) {
    const int64_t at = block * chunk_;
    while (!anchored_.empty() && anchored_.front().at < at) anchored_.pop_front();
    while (!undecoded_.empty() && undecoded_.front().second <= at) undecoded_.pop_front();
    SpliceBlock b;
    b.index = block;
    b.ending = ending;
    b.mustCopy = !undecoded_.empty() && undecoded_.front().first < at + chunk_ &&
                 undecoded_.front().second > at;
    PacketStart start, next;
    b.packet = PacketAt(at, &start);
    packet->reset();
    if (!b.packet) return b;
    *packet = start.packet;
    b.window = WindowOf(start.packet->data, size_t(start.packet->size), channels_);
    b.nextPacket = PacketAt(at + chunk_, &next);
    b.nextSameClip =
        anchored_.size() > 1 && anchored_[1].at == at + chunk_ && anchored_[1].clip == start.clip;
    if (b.nextSameClip)
        b.nextWindow =
            WindowOf(anchored_[1].packet->data, size_t(anchored_[1].packet->size), channels_);
    return b;
}

}  // namespace tavhost::media
