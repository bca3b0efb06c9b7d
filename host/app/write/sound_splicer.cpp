#include "sound_splicer.h"

#include <algorithm>

namespace tavhost::media {

SoundSplicer::SoundSplicer(SoundTrack& track, int64_t soundStart)
    : track_(track), origins_(track.Chunk(), soundStart, track.Format().channels) {
    track_.KeepOnly([this](const AVPacket& p) { return Own(p); });
}

bool SoundSplicer::Own(const AVPacket& packet) {
    const bool own = dropping_ == 0 && keeping_ != 0;
    if (dropping_ > 0) --dropping_;
    if (own && keeping_ > 0) --keeping_;
    if (own) {
        lastOwn_ = WindowOf(packet.data, size_t(packet.size), track_.Format().channels);
        splice_.Wrote(lastOwn_);
    }
    return own;
}

bool SoundSplicer::Take(const float* data, int samples, const SoundOrigin* origin,
                        std::string* error) {
    origins_.Note(samples, origin);
    const size_t channels = size_t(track_.Format().channels);
    pending_.insert(pending_.end(), data, data + size_t(samples) * channels);
    // A block is decided once a few after it are here: a copied packet's
    // transform reaches into the next block, whether that one is copied too
    // decides whether the two meet in a splice, and the last blocks of the
    // movie are never copied.
    while (pending_.size() >= size_t(AacSplice::kAhead + 1) * size_t(track_.Chunk()) * channels)
        if (!DecideBlock(error)) return false;
    return true;
}

bool SoundSplicer::DecideBlock(std::string* error) {
    const int chunk = track_.Chunk();
    const size_t floats = size_t(chunk) * size_t(track_.Format().channels);
    const int64_t at = block_ * chunk;
    std::shared_ptr<const AVPacket> packet;
    const SpliceBlock b = origins_.Describe(block_, ending_, &packet);
    bool copy = splice_.MayCopy(b);
    if (b.mustCopy && !copy) {
        *error = track_.Failed("the clips' sound was not decoded and has no packet to copy");
        return false;
    }
    if (copy && track_.HasEncoder()) {
        // The stretch under way ends before this block, which it is given
        // with the ones after: flushed any earlier, the encoder windows its
        // last packets as if the sound ended.
        for (int k = 0; k < AacSplice::kLeadOut; ++k)
            if (!track_.Feed(pending_.data() + size_t(k) * floats, chunk, at + k * chunk, error))
                return false;
        if (!EndStretch(error)) return false;
        copy = AacSplice::Follows(b, lastOwn_);
    }
    splice_.Decided(copy);
    if (copy) {
        Remember();
        pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(floats));
        PacketPtr pkt(Allocated(av_packet_alloc()));
        if (av_packet_ref(pkt.get(), packet.get()) < 0) throw std::bad_alloc();
        av_packet_free_side_data(pkt.get());
        ++block_;
        ++copied_;
        return track_.Put(pkt.get(), error);
    }
    if (!track_.HasEncoder() && !OpenStretch(error)) return false;
    Remember();
    ++block_;
    const bool ok = track_.Encode(pending_.data(), chunk, true, error);
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(floats));
    return ok;
}

bool SoundSplicer::OpenStretch(std::string* error) {
    if (!track_.OpenEncoder(error)) return false;
    stretchFirst_ = block_;
    writtenBefore_ = track_.Written();
    dropping_ = AacSplice::Dropped(block_);
    keeping_ = -1;
    int64_t at = block_ - int64_t(before_.size());
    for (const std::vector<float>& b : before_)
        if (!track_.Feed(b.data(), track_.Chunk(), at++ * track_.Chunk(), error)) return false;
    return true;
}

void SoundSplicer::Remember() {
    if (before_.size() == size_t(kLeadInPackets)) before_.pop_front();
    const size_t floats = size_t(track_.Chunk()) * size_t(track_.Format().channels);
    before_.emplace_back(pending_.begin(), pending_.begin() + ptrdiff_t(floats));
}

bool SoundSplicer::EndStretch(std::string* error) {
    keeping_ = std::max<int64_t>(
        0, AacSplice::Own(stretchFirst_, block_) - (track_.Written() - writtenBefore_));
    if (!track_.Close(error)) return false;
    keeping_ = -1;
    return true;
}

bool SoundSplicer::Finish(std::string* error) {
    ending_ = true;
    const size_t channels = size_t(track_.Format().channels);
    while (pending_.size() >= size_t(track_.Chunk()) * channels)
        if (!DecideBlock(error)) return false;
    if (pending_.empty()) return true;
    if (!track_.HasEncoder() && !OpenStretch(error)) return false;
    return track_.Encode(pending_.data(), int(pending_.size() / channels), false, error);
}

}  // namespace tavhost::media
