#include "sound_splicer.h"

#include <algorithm>
#include <limits>

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

const float* SoundSplicer::Block(int64_t block) const {
    const size_t floats = size_t(track_.Chunk()) * size_t(track_.Format().channels);
    if (block >= block_) return pending_.data() + size_t(block - block_) * floats;
    return kept_[size_t(block - keptFirst_)].data();
}

int64_t SoundSplicer::BlocksHere() const {
    const size_t floats = size_t(track_.Chunk()) * size_t(track_.Format().channels);
    return block_ + int64_t(pending_.size() / floats);
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

void SoundSplicer::Advance() {
    const size_t floats = size_t(track_.Chunk()) * size_t(track_.Format().channels);
    kept_.emplace_back(pending_.begin(), pending_.begin() + ptrdiff_t(floats));
    if (kept_.size() > size_t(kLeadInPackets) + kHeld) {
        kept_.pop_front();
        ++keptFirst_;
    }
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(floats));
    ++block_;
}

bool SoundSplicer::DecideBlock(std::string* error) {
    const int chunk = track_.Chunk();
    std::shared_ptr<const AVPacket> packet;
    const SpliceBlock b = origins_.Describe(block_, ending_, &packet);
    bool copy = splice_.MayCopy(b);
    if (b.mustCopy && !copy) {
        *error = track_.Failed("the clips' sound was not decoded and has no packet to copy");
        return false;
    }
    if (copy && track_.HasEncoder()) {
        // The stretch under way ends before this block only if its last
        // packet, made with the blocks past it (flushed any earlier, the
        // encoder windows its last packets as if the sound ended), meets the
        // copied one; else it goes on through this block.
        if (!FeedUpTo(block_ + AacSplice::kLeadOut, error)) return false;
        copy = AacSplice::Follows(b, lastOwn_);
        if (copy && !EndStretch(error)) return false;
    }
    splice_.Decided(copy);
    if (copy) {
        held_.push_back({{block_, b.window, b.mustCopy}, std::move(packet)});
        Advance();
        return held_.size() <= kHeld || WriteHeld(held_.front().copy.block + 1, error);
    }
    if (!track_.HasEncoder()) {
        int64_t first = block_;
        return StretchStart(&first, error) && StartStretch(first, error);
    }
    bool ok = true;
    if (fed_ > block_) {
        track_.Skip(chunk);  // given already, to see the stretch's last packet
    } else {
        ok = track_.Encode(Block(block_), chunk, true, error);
        fed_ = block_ + 1;
    }
    Advance();
    return ok;
}

bool SoundSplicer::StretchStart(int64_t* first, std::string* error) {
    std::vector<HeldCopy> copies;
    for (const Held& h : held_) copies.push_back(h.copy);
    const int keep = AacSplice::StretchStart(
        copies, *first, [&](int64_t b, AacWindow* w) { return Rehearse(b, w, error); });
    if (keep < 0) return false;
    if (size_t(keep) < held_.size()) {
        *first = held_[size_t(keep)].copy.block;
        held_.resize(size_t(keep));
    }
    return true;
}

bool SoundSplicer::Rehearse(int64_t first, AacWindow* window, std::string* error) {
    const int64_t from = first - AacSplice::LeadIn(first);
    const int64_t end = std::min(BlocksHere(), first + AacSplice::kLeadOut + 1);
    std::vector<const float*> blocks;
    for (int64_t j = from; j < end; ++j) blocks.push_back(Block(j));
    std::vector<uint8_t> packet;
    if (!track_.Rehearse(blocks, from * track_.Chunk(), size_t(AacSplice::Dropped(first)), &packet,
                         error))
        return false;
    *window = packet.empty() ? AacWindow{}
                             : WindowOf(packet.data(), packet.size(), track_.Format().channels);
    return true;
}

bool SoundSplicer::OpenStretch(int64_t first, std::string* error) {
    if (!WriteHeld(first, error) || !track_.OpenEncoder(error)) return false;
    stretchFirst_ = first;
    writtenBefore_ = track_.Written();
    dropping_ = AacSplice::Dropped(first);
    keeping_ = -1;
    for (int64_t j = first - AacSplice::LeadIn(first); j < first; ++j)
        if (!track_.Feed(Block(j), track_.Chunk(), j * track_.Chunk(), error)) return false;
    fed_ = first;
    return true;
}

bool SoundSplicer::StartStretch(int64_t first, std::string* error) {
    if (!OpenStretch(first, error)) return false;
    for (int64_t j = first; j <= block_; ++j)
        if (!track_.Encode(Block(j), track_.Chunk(), true, error)) return false;
    fed_ = block_ + 1;
    Advance();
    return true;
}

bool SoundSplicer::FeedUpTo(int64_t end, std::string* error) {
    for (end = std::min(end, BlocksHere()); fed_ < end; ++fed_)
        if (!track_.Feed(Block(fed_), track_.Chunk(), fed_ * track_.Chunk(), error)) return false;
    return true;
}

bool SoundSplicer::WriteHeld(int64_t end, std::string* error) {
    while (!held_.empty() && held_.front().copy.block < end) {
        PacketPtr pkt(Allocated(av_packet_alloc()));
        if (av_packet_ref(pkt.get(), held_.front().packet.get()) < 0) throw std::bad_alloc();
        av_packet_free_side_data(pkt.get());
        held_.pop_front();
        ++copied_;
        if (!track_.Put(pkt.get(), error)) return false;
    }
    return true;
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
    if (!WriteHeld(std::numeric_limits<int64_t>::max(), error)) return false;
    if (pending_.empty()) return true;
    if (!track_.HasEncoder() && !OpenStretch(block_, error)) return false;
    return track_.Encode(pending_.data(), int(pending_.size() / channels), false, error);
}

}  // namespace tavhost::media
