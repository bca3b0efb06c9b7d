#include "part_seal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

#include "interrupt.h"
#include "media_input.h"
#include "user_text.h"

extern "C" {
#include <libavutil/hash.h>
}

namespace tavhost::media {

namespace {

constexpr int kSealLength = 64;  // hex digits of a SHA-256 digest
// The placeholder lies in the header's tags, well inside this.
constexpr std::streamsize kHeaderBytes = 1 << 20;

}  // namespace

std::string SealPlaceholder() {
    std::string text = "tav-seal-written-when-the-part-is-complete-";
    text.resize(kSealLength, '-');
    return text;
}

PartDigest::PartDigest() {
    if (av_hash_alloc(&hash_, "SHA256") < 0 || !hash_) throw std::bad_alloc();
    av_hash_init(hash_);
}

PartDigest::~PartDigest() {
    av_hash_freep(&hash_);
}

void PartDigest::Number(int64_t n) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(uint64_t(n) >> (8 * i));
    av_hash_update(hash_, bytes, sizeof bytes);
}

void PartDigest::Bytes(const void* data, size_t size) {
    Number(int64_t(size));
    // av_hash_update takes at most INT_MAX bytes a call (32-bit sizes in older FFmpeg).
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const size_t n = std::min<size_t>(size, 1u << 30);
        av_hash_update(hash_, p, int(n));
        p += n;
        size -= n;
    }
}

void PartDigest::Begin(const std::vector<std::pair<std::string, std::string>>& tags,
                       const AVFormatContext* ic) {
    Number(int64_t(tags.size()));
    for (const auto& [key, value] : tags) {
        Bytes(key.data(), key.size());
        Bytes(value.data(), value.size());
    }
    Number(ic->nb_streams);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVCodecParameters& p = *ic->streams[i]->codecpar;
        Number(p.codec_type);
        Number(p.codec_id);
        Number(p.width);
        Number(p.height);
        Number(p.sample_rate);
        Number(p.ch_layout.nb_channels);
        Number(ic->streams[i]->time_base.num);
        Number(ic->streams[i]->time_base.den);
        Bytes(p.extradata, p.extradata ? size_t(p.extradata_size) : 0);
    }
}

void PartDigest::Add(const AVPacket* pkt) {
    Number(pkt->stream_index);
    Number(pkt->pts);
    Number(pkt->flags & AV_PKT_FLAG_KEY);
    Bytes(pkt->data, pkt->data ? size_t(pkt->size) : 0);
}

std::string PartDigest::Seal() {
    uint8_t digest[AV_HASH_MAX_SIZE];
    av_hash_final(hash_, digest);
    std::string text;
    char hex[3];
    for (int i = 0; i < av_hash_get_size(hash_) && int(text.size()) < kSealLength; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        text += hex;
    }
    return text;
}

bool SealPart(const std::string& path, const std::vector<std::pair<std::string, std::string>>& tags,
              const std::string& shown, std::string* error) {
    auto failed = [&](const std::string& why) {
        *error = gInterrupted ? "interrupted" : "cannot write " + shown + ": " + why;
        return false;
    };
    std::string seal;
    {
        InputPtr in;
        std::string why;
        if (!OpenInput(path, &in, &why, "part", shown)) return failed("it cannot be read back");
        PartDigest digest;
        digest.Begin(tags, in.get());
        PacketPtr pkt{Allocated(av_packet_alloc())};
        for (;;) {
            const int rc = av_read_frame(in.get(), pkt.get());
            if (rc == AVERROR_EOF) break;
            if (rc < 0) return failed("it cannot be read back: " + AvError(rc));
            digest.Add(pkt.get());
            av_packet_unref(pkt.get());
        }
        seal = digest.Seal();
    }
    // The placeholder, once, in the header: the seal goes in its place.
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string head(size_t(kHeaderBytes), '\0');
    file.read(head.data(), kHeaderBytes);
    head.resize(size_t(file.gcount()));
    const std::string placeholder = SealPlaceholder();
    const size_t at = head.find(placeholder);
    if (!file.good() && !file.eof()) return failed("it cannot be read back");
    if (at == std::string::npos || head.find(placeholder, at + 1) != std::string::npos)
        return failed("its seal has no place in its header");
    file.clear();
    file.seekp(std::streamoff(at));
    file.write(seal.data(), std::streamsize(seal.size()));
    file.flush();
    if (!file) return failed("its seal cannot be written");
    return true;
}

}  // namespace tavhost::media
