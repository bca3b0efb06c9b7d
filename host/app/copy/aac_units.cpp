#include "aac_units.h"

extern "C" {
#include <libavcodec/codec_par.h>
}

#include <algorithm>

namespace tavhost::media {

namespace {

// The first two bytes of an AAC stream's configuration: object type, rate,
// channels and frame length.
constexpr size_t kConfigCore = 2;

}  // namespace

AacConfig AacConfigOf(const AVCodecParameters& p) {
    AacConfig c;
    c.aac = p.codec_id == AV_CODEC_ID_AAC;
    c.rate = p.sample_rate;
    c.channels = p.ch_layout.nb_channels;
    if (p.extradata && p.extradata_size > 0)
        c.bytes.assign(p.extradata, p.extradata + p.extradata_size);
    return c;
}

bool SameAacConfig(const AacConfig& a, const AacConfig& b) {
    if (!a.aac || !b.aac || a.rate != b.rate || a.channels != b.channels) return false;
    if (a.bytes.size() < kConfigCore || b.bytes.size() < kConfigCore) return false;
    if (!std::equal(a.bytes.begin(), a.bytes.begin() + kConfigCore, b.bytes.begin())) return false;
    // What follows the core (an extension saying there is no SBR) is either
    // absent or the same.
    return a.bytes.size() == kConfigCore || b.bytes.size() == kConfigCore || a.bytes == b.bytes;
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

AacWindow WindowOf(const uint8_t* data, size_t size, int channels) {
    AacWindow w;
    if (channels != 1 && channels != 2) return w;
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
    // Mono is one single channel element; stereo one pair with a common window.
    if (id != (channels == 1 ? kSce : kCpe)) return w;
    uint32_t common = 0, seq = 0, shape = 0;
    if (!bits.Read(4, &v)) return w;                     // element instance tag
    if (id == kCpe && !bits.Read(1, &common)) return w;  // common window
    if (id == kCpe && !common) return w;
    if (!common && !bits.Read(8, &v)) return w;  // global gain
    if (!bits.Read(1, &v) || !bits.Read(2, &seq) || !bits.Read(1, &shape)) return w;
    w.known = true;
    w.sequence = int(seq);
    w.shape = int(shape);
    return w;
}

}  // namespace tavhost::media
