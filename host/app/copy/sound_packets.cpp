#include "sound_packets.h"

#include <algorithm>

#include "media_input.h"

namespace tavhost {

namespace {

// The first two bytes of an AAC stream's configuration: object type, rate,
// channels and frame length.
constexpr int kConfigCore = 2;

}  // namespace

bool SameAacConfig(const AVCodecParameters& a, const AVCodecParameters& b) {
    if (a.codec_id != AV_CODEC_ID_AAC || b.codec_id != AV_CODEC_ID_AAC ||
        a.sample_rate != b.sample_rate || a.ch_layout.nb_channels != b.ch_layout.nb_channels)
        return false;
    if (a.extradata_size < kConfigCore || b.extradata_size < kConfigCore) return false;
    if (!std::equal(a.extradata, a.extradata + kConfigCore, b.extradata)) return false;
    // What follows the core (an extension saying there is no SBR) is either
    // absent or the same.
    return a.extradata_size == kConfigCore || b.extradata_size == kConfigCore ||
           (a.extradata_size == b.extradata_size &&
            std::equal(a.extradata, a.extradata + a.extradata_size, b.extradata));
}

namespace {

// Reads bits from the front of a packet, most significant first.
class Bits {
  public:
    Bits(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Read(int n, uint32_t* v) {
        *v = 0;
        for (int i = 0; i < n; ++i, ++at_) {
            if (at_ / 8 >= size_) return false;
            *v = (*v << 1) | ((data_[at_ / 8] >> (7 - at_ % 8)) & 1u);
        }
        return true;
    }
    void Align() { at_ = (at_ + 7) / 8 * 8; }
    void Skip(size_t bits) { at_ += bits; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

enum Element : uint32_t { kSce = 0, kCpe = 1, kLfe = 3, kDse = 4, kFil = 6 };

}  // namespace

AacWindow WindowOf(const uint8_t* data, size_t size) {
    AacWindow w;
    Bits bits(data, size);
    uint32_t id = 0, v = 0;
    // Data and fill elements may come before the first channel element.
    for (int element = 0; element < 8; ++element) {
        if (!bits.Read(3, &id)) return w;
        if (id == kDse) {
            uint32_t align = 0, count = 0, more = 0;
            if (!bits.Read(4, &v) || !bits.Read(1, &align) || !bits.Read(8, &count)) return w;
            if (count == 255 && bits.Read(8, &more)) count += more;
            if (align) bits.Align();
            bits.Skip(size_t(count) * 8);
            continue;
        }
        if (id == kFil) {
            uint32_t count = 0, more = 0;
            if (!bits.Read(4, &count)) return w;
            if (count == 15 && bits.Read(8, &more)) count += more - 1;
            bits.Skip(size_t(count) * 8);
            continue;
        }
        break;
    }
    if (id != kSce && id != kCpe && id != kLfe) return w;
    uint32_t common = 0, seq = 0, shape = 0;
    if (!bits.Read(4, &v)) return w;                     // element instance tag
    if (id == kCpe && !bits.Read(1, &common)) return w;  // common window
    if (!common && !bits.Read(8, &v)) return w;          // global gain
    if (!bits.Read(1, &v) || !bits.Read(2, &seq) || !bits.Read(1, &shape)) return w;
    w.known = true;
    w.sequence = int(seq);
    w.shape = int(shape);
    return w;
}

bool SoundPackets::Accept(const AVCodecParameters& ours) {
    copies_.assign(paths_.size(), false);
    bool any = false;
    for (size_t c = 0; c < paths_.size(); ++c) {
        if (paths_[c].empty()) continue;
        media::InputPtr input;
        std::string ignored;
        if (!media::OpenInput(paths_[c], &input, &ignored)) continue;
        const int s = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (s < 0) continue;
        const AVCodecParameters& p = *input->streams[s]->codecpar;
        copies_[c] = SameAacConfig(p, ours);
        any = any || copies_[c];
    }
    return any;
}

bool SoundPackets::Open(int clip) {
    input_.reset();
    open_ = -1;
    std::string ignored;
    if (!media::OpenInput(paths_[size_t(clip)], &input_, &ignored)) return false;
    stream_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream_ < 0) return false;
    open_ = clip;
    last_ = INT64_MIN;
    av_packet_unref(pkt_.get());
    return true;
}

bool SoundPackets::Packet(int clip, int64_t pts, AVPacket* out) {
    if (!Copies(clip)) return false;
    // Another clip, or back in this one: read again from the packet at or
    // before the one wanted.
    if (open_ != clip || pts < last_) {
        if (!Open(clip)) return false;
        // A clip that cannot seek is read from its start.
        if (av_seek_frame(input_.get(), stream_, pts, AVSEEK_FLAG_BACKWARD) < 0 && !Open(clip))
            return false;
    }
    for (;;) {
        // A packet read past the one wanted last time is looked at first.
        if (!pkt_->data) {
            const int rc = av_read_frame(input_.get(), pkt_.get());
            if (rc < 0) return false;
            if (pkt_->stream_index != stream_) {
                av_packet_unref(pkt_.get());
                continue;
            }
            if (pkt_->pts == AV_NOPTS_VALUE) {
                av_packet_unref(pkt_.get());
                continue;
            }
        }
        last_ = pkt_->pts;
        if (pkt_->pts > pts) return false;
        if (pkt_->pts == pts) {
            av_packet_unref(out);
            av_packet_move_ref(out, pkt_.get());
            return true;
        }
        av_packet_unref(pkt_.get());
    }
}

}  // namespace tavhost
