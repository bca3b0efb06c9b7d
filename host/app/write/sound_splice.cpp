// Copying the clips' AAC sound where it goes into the movie unchanged, and
// encoding the rest in stretches spliced between the copied packets.
//
// A packet with timestamp Q decodes to samples [Q, Q + 1024) from its own
// transform and the one before it, which overlap: each packet's transform
// spans its block and the next. So a packet is copied only where both
// blocks are the clip's sound unchanged, and a stretch's encoder
// starts well before them and is given two blocks past its end: its packets
// on either side of a copied one are made from the sound the copied packet
// overlaps with, as an encoder running through would make them. The packets
// for those first blocks (and the encoder's priming one) and those past the
// end are not written.
#include <algorithm>

#include "aac_splice.h"
#include "movie_writer_impl.h"

namespace tavhost::media {

void MovieWriter::Impl::NoteOrigin(int samples, const SoundOrigin* origin) {
    if (origin && options.copySound) {
        if (!runs.empty() && runs.back().clip == origin->clip && runs.back().end == received)
            runs.back().end += samples;
        else
            runs.push_back({received, received + samples, origin->clip});
        for (const SoundAnchor& a : origin->anchors)
            if (a.packet && a.offset >= 0 && a.offset < samples &&
                (options.soundStart + received + a.offset) % chunk == 0)
                starts.push_back({received + a.offset, origin->clip, a.packet});
        if (!origin->decoded) undecoded.push_back({received, received + samples});
    }
    received += samples;
    // A packet whose whole block has come, all of it the clip's sound unchanged.
    while (!starts.empty() && starts.front().at + chunk <= received) {
        const PacketStart s = starts.front();
        starts.pop_front();
        while (!runs.empty() && runs.front().end <= s.at) runs.pop_front();
        const bool covered = std::any_of(runs.begin(), runs.end(), [&](const CleanRun& r) {
            return r.clip == s.clip && r.start <= s.at && r.end >= s.at + chunk;
        });
        if (covered) anchored.push_back(s);
    }
}

bool MovieWriter::Impl::TakeSound(const float* data, int samples, const SoundOrigin* origin,
                                  std::string* error) {
    NoteOrigin(samples, origin);
    pending.insert(pending.end(), data, data + size_t(samples) * size_t(sound.channels));
    // A block is decided once a few after it are here: a copied packet's
    // transform reaches into the next block, whether that one is copied too
    // decides whether the two meet in a splice, and the last blocks of the
    // movie are never copied (see FinishSplicing).
    while (pending.size() >= size_t(AacSplice::kAhead + 1) * size_t(chunk) * size_t(sound.channels))
        if (!DecideBlock(error)) return false;
    return true;
}

bool MovieWriter::Impl::RecordSound(int samples, const SoundOrigin* origin, std::string* error) {
    NoteOrigin(samples, origin);
    // A part of a render keeps the clip packets its sound could be copied
    // from, one stream for the clips at even places and one for the odd, so
    // that its join copies what the render in one piece copies.
    for (; !anchored.empty(); anchored.pop_front()) {
        const PacketStart& s = anchored.front();
        av_packet_unref(pkt.get());
        if (av_packet_ref(pkt.get(), s.packet.get()) < 0) throw std::bad_alloc();
        av_packet_free_side_data(pkt.get());
        pkt->pts = pkt->dts = s.at;
        pkt->duration = chunk;
        pkt->flags |= AV_PKT_FLAG_KEY;
        if (!Write(AVRational{1, sound.rate}, clipStreams[size_t(s.clip % 2)], error)) return false;
    }
    return true;
}

bool MovieWriter::Impl::PacketAt(int64_t at, PacketStart* start) const {
    // Blocks [at, at + 2 blocks) are one clip's unchanged sound, each with
    // its own packet: the one at `at` reaches into the next.
    const auto s = std::find_if(anchored.begin(), anchored.end(),
                                [at](const PacketStart& p) { return p.at >= at; });
    if (s == anchored.end() || s->at != at || s + 1 == anchored.end() ||
        (s + 1)->at != at + chunk || (s + 1)->clip != s->clip)
        return false;
    *start = *s;
    return true;
}

SpliceBlock MovieWriter::Impl::NextBlock() {
    const int64_t at = block * chunk;
    while (!anchored.empty() && anchored.front().at < at) anchored.pop_front();
    while (!undecoded.empty() && undecoded.front().second <= at) undecoded.pop_front();
    SpliceBlock b;
    b.index = block;
    b.ending = ending;
    b.mustCopy =
        !undecoded.empty() && undecoded.front().first < at + chunk && undecoded.front().second > at;
    PacketStart start{}, next{};
    b.packet = PacketAt(at, &start);
    if (!b.packet) return b;
    clipPacket = start.packet;
    b.window = WindowOf(start.packet->data, size_t(start.packet->size));
    b.nextPacket = PacketAt(at + chunk, &next);
    b.nextSameClip =
        anchored.size() > 1 && anchored[1].at == at + chunk && anchored[1].clip == start.clip;
    if (b.nextSameClip)
        b.nextWindow = WindowOf(anchored[1].packet->data, size_t(anchored[1].packet->size));
    return b;
}

bool MovieWriter::Impl::DecideBlock(std::string* error) {
    const size_t floats = size_t(chunk) * size_t(sound.channels);
    const int64_t at = block * chunk;
    const SpliceBlock b = NextBlock();
    bool copy = splice.MayCopy(b);
    if (b.mustCopy && !copy) {
        *error = Failed("the clips' sound was not decoded and has no packet to copy");
        return false;
    }
    if (copy && aenc) {
        // The stretch under way ends before this block, which it is given
        // with the ones after: flushed any earlier, the encoder windows its
        // last packets as if the sound ended.
        for (int k = 0; k < AacSplice::kLeadOut; ++k)
            if (!SendSound(pending.data() + size_t(k) * floats, chunk, at + k * chunk, error) ||
                !Drain(aenc.get(), astream, error))
                return false;
        if (!EndSoundStretch(error)) return false;
        copy = AacSplice::Follows(b, lastOwn);
    }
    splice.Decided(copy);
    if (copy) {
        Remember();
        pending.erase(pending.begin(), pending.begin() + ptrdiff_t(floats));
        av_packet_unref(pkt.get());
        if (av_packet_ref(pkt.get(), clipPacket.get()) < 0) throw std::bad_alloc();
        av_packet_free_side_data(pkt.get());
        pkt->duration = chunk;
        pkt->flags |= AV_PKT_FLAG_KEY;
        ++block;
        ++copiedSound;
        audioPts += chunk;
        return WriteSound(error);
    }
    if (!aenc && !OpenSoundStretch(error)) return false;
    Remember();
    ++block;
    return EncodeAudio(chunk, error);
}

bool MovieWriter::Impl::OpenSoundStretch(std::string* error) {
    // After a copied block: the new encoder is given the blocks before first.
    if (!OpenSoundEncoder(avcodec_find_encoder(AV_CODEC_ID_AAC), error)) return false;
    stretchFirst = block;
    stretchWritten = 0;
    dropping = AacSplice::Dropped(block);
    keeping = -1;
    zeroChunks = 0;
    steadySilence = false;
    lastSound.clear();
    int64_t at = block - int64_t(before.size());
    for (const std::vector<float>& b : before)
        if (!SendSound(b.data(), chunk, at++ * chunk, error) || !Drain(aenc.get(), astream, error))
            return false;
    return true;
}

void MovieWriter::Impl::Remember() {
    if (before.size() == size_t(kLeadInPackets)) before.pop_front();
    before.emplace_back(pending.begin(),
                        pending.begin() + ptrdiff_t(size_t(chunk) * size_t(sound.channels)));
}

bool MovieWriter::Impl::EndSoundStretch(std::string* error) {
    keeping = std::max<int64_t>(0, AacSplice::Own(stretchFirst, block) - stretchWritten);
    if (int rc = avcodec_send_frame(aenc.get(), nullptr); rc < 0) {
        *error = Failed("audio encoding failed: " + AvError(rc));
        return false;
    }
    if (!Drain(aenc.get(), astream, error)) return false;
    aenc.reset();
    keeping = -1;
    return true;
}

bool MovieWriter::Impl::FinishSplicing(std::string* error) {
    ending = true;
    while (pending.size() >= size_t(chunk) * size_t(sound.channels))
        if (!DecideBlock(error)) return false;
    if (pending.empty()) return true;
    const int samples = int(pending.size() / size_t(sound.channels));
    if (!aenc && !OpenSoundStretch(error)) return false;
    return EncodeAudio(samples, error, false);
}

}  // namespace tavhost::media
