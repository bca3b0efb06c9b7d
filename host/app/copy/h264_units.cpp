#include "h264_units.h"

#include <algorithm>

namespace tavhost::media::h264 {

namespace {

// Exp-Golomb reading over a unit's first bytes, emulation prevention removed.
class BitReader {
  public:
    explicit BitReader(const Unit& unit, size_t most = 64) {
        int zeros = 0;
        for (size_t i = 1; i < unit.size && bytes_.size() < most; ++i) {
            const uint8_t b = unit.data[i];
            if (zeros >= 2 && b == 3) {
                zeros = 0;
                continue;
            }
            zeros = b == 0 ? zeros + 1 : 0;
            bytes_.push_back(b);
        }
    }
    int Bit() {
        if (pos_ >= bytes_.size() * 8) {
            failed_ = true;
            return 0;
        }
        const int bit = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return bit;
    }
    uint32_t Bits(int n) {
        uint32_t v = 0;
        while (n-- > 0) v = (v << 1) | uint32_t(Bit());
        return v;
    }
    uint32_t Ue() {
        int zeros = 0;
        while (!Bit() && !failed_)
            if (++zeros > 31) failed_ = true;
        return failed_ ? 0 : (1u << zeros) - 1 + Bits(zeros);
    }
    int32_t Se() {
        const uint32_t v = Ue();
        return v & 1 ? int32_t((v + 1) / 2) : -int32_t(v / 2);
    }
    bool Failed() const { return failed_; }

  private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
    bool failed_ = false;
};

bool HighProfile(uint8_t profile) {
    return profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
           profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
           profile == 139 || profile == 134 || profile == 135;
}

void Put16(Bytes* out, size_t v) {
    out->push_back(uint8_t(v >> 8));
    out->push_back(uint8_t(v));
}

}  // namespace

bool Split(const uint8_t* data, size_t size, int lengthSize, std::vector<Unit>* units) {
    units->clear();
    if (lengthSize > 0) {
        for (size_t at = 0; at < size;) {
            if (size - at < size_t(lengthSize)) return false;
            size_t n = 0;
            for (int i = 0; i < lengthSize; ++i) n = (n << 8) | data[at + size_t(i)];
            at += size_t(lengthSize);
            if (n > size - at) return false;
            if (n > 0) units->push_back({data + at, n});
            at += n;
        }
        return true;
    }
    // Annex B: units between 00 00 01 start codes (a zero before one belongs to it).
    size_t start = size;
    for (size_t i = 0; i + 2 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        if (start < size) {
            size_t end = i;
            while (end > start && data[end - 1] == 0) --end;
            if (end > start) units->push_back({data + start, end - start});
        }
        start = i + 3;
        i += 2;
    }
    if (start < size) {
        size_t end = size;
        while (end > start && data[end - 1] == 0) --end;
        if (end > start) units->push_back({data + start, end - start});
    }
    return !units->empty() || size == 0;
}

void AppendWithLength(const Unit& unit, std::vector<uint8_t>* out) {
    const size_t n = unit.size;
    out->push_back(uint8_t(n >> 24));
    out->push_back(uint8_t(n >> 16));
    out->push_back(uint8_t(n >> 8));
    out->push_back(uint8_t(n));
    out->insert(out->end(), unit.data, unit.data + n);
}

bool WithLengths(const uint8_t* data, size_t size, int lengthSize, bool keepSets,
                 std::vector<uint8_t>* out) {
    thread_local std::vector<Unit> units;
    out->clear();
    if (!Split(data, size, lengthSize, &units)) return false;
    for (const Unit& u : units)
        if (keepSets || (u.Type() != kSps && u.Type() != kPps)) AppendWithLength(u, out);
    return true;
}

namespace {

void SkipScalingList(BitReader& r, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size && !r.Failed(); ++j) {
        if (next != 0) next = (last + r.Se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

void SkipHrd(BitReader& r) {
    const uint32_t count = r.Ue() + 1;
    r.Bits(8);  // bit_rate_scale, cpb_size_scale
    for (uint32_t i = 0; i < count && i < 32 && !r.Failed(); ++i) {
        r.Ue();
        r.Ue();
        r.Bit();
    }
    r.Bits(20);  // the four delay and length fields
}

}  // namespace

bool ReadDpbNeeds(const Unit& sps, DpbNeeds* out) {
    if (sps.Type() != kSps) return false;
    BitReader r(sps, 4096);
    DpbNeeds n;
    n.profile = int(r.Bits(8));
    r.Bits(8);
    n.level = int(r.Bits(8));
    r.Ue();  // id
    if (HighProfile(uint8_t(n.profile))) {
        const uint32_t chroma = r.Ue();
        if (chroma == 3) r.Bit();
        r.Ue();
        r.Ue();
        r.Bit();
        if (r.Bit())  // scaling matrices
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i)
                if (r.Bit()) SkipScalingList(r, i < 6 ? 16 : 64);
    }
    r.Ue();  // log2_max_frame_num_minus4
    const uint32_t pocType = r.Ue();
    if (pocType == 0) {
        r.Ue();
    } else if (pocType == 1) {
        r.Bit();
        r.Se();
        r.Se();
        const uint32_t cycle = r.Ue();
        for (uint32_t i = 0; i < cycle && i < 256 && !r.Failed(); ++i) r.Se();
    }
    n.refFrames = int(r.Ue());
    r.Bit();
    r.Ue();
    r.Ue();
    if (!r.Bit()) r.Bit();  // frame_mbs_only, else mb_adaptive_frame_field
    r.Bit();
    if (r.Bit())
        for (int i = 0; i < 4; ++i) r.Ue();
    if (r.Bit()) {  // VUI
        if (r.Bit() && r.Bits(8) == 255) r.Bits(32);
        if (r.Bit()) r.Bit();
        if (r.Bit()) {
            r.Bits(4);
            if (r.Bit()) r.Bits(24);
        }
        if (r.Bit()) {
            r.Ue();
            r.Ue();
        }
        if (r.Bit()) {
            r.Bits(32);
            r.Bits(32);
            r.Bit();
        }
        const bool nal = r.Bit();
        if (nal) SkipHrd(r);
        const bool vcl = r.Bit();
        if (vcl) SkipHrd(r);
        if (nal || vcl) r.Bit();
        r.Bit();
        if (r.Bit()) {  // bitstream restriction
            r.Bit();
            for (int i = 0; i < 5; ++i) r.Ue();
            n.decodeBuffering = int(r.Ue());
        }
    }
    if (r.Failed() || n.refFrames > 16) return false;
    *out = n;
    return true;
}

int ParameterSetId(const Unit& unit) {
    const int type = unit.Type();
    if (type != kSps && type != kPps) return -1;
    BitReader r(unit);
    if (type == kSps) r.Bits(24);  // profile, constraint flags, level
    const uint32_t id = r.Ue();
    if (r.Failed() || id > (type == kSps ? 31u : 255u)) return -1;
    return int(id);
}

bool ParameterSets::Add(const Unit& unit) {
    const int id = ParameterSetId(unit);
    if (id < 0) return false;
    std::vector<Bytes>& list = unit.Type() == kSps ? sps : pps;
    const Bytes bytes(unit.data, unit.data + unit.size);
    for (const Bytes& b : list) {
        if (b == bytes) return true;
        if (ParameterSetId({b.data(), b.size()}) == id) return false;
    }
    list.push_back(bytes);
    return true;
}

bool ParameterSets::Uses(int id) const {
    for (const auto* list : {&sps, &pps})
        for (const Bytes& b : *list)
            if (ParameterSetId({b.data(), b.size()}) == id) return true;
    return false;
}

bool ReadExtradata(const uint8_t* data, size_t size, ParameterSets* sets) {
    if (size >= 7 && data[0] == 1) {
        sets->lengthSize = (data[4] & 3) + 1;
        size_t at = 5;
        for (int kind = 0; kind < 2; ++kind) {
            if (at >= size) return false;
            const int count = kind == 0 ? data[at] & 0x1f : data[at];
            ++at;
            for (int i = 0; i < count; ++i) {
                if (size - at < 2) return false;
                const size_t n = size_t(data[at]) << 8 | data[at + 1];
                at += 2;
                if (n == 0 || n > size - at) return false;
                if (!sets->Add({data + at, n})) return false;
                at += n;
            }
        }
        return true;
    }
    sets->lengthSize = 0;
    std::vector<Unit> units;
    if (!Split(data, size, 0, &units)) return false;
    for (const Unit& u : units)
        if ((u.Type() == kSps || u.Type() == kPps) && !sets->Add(u)) return false;
    return true;
}

Bytes CombinedConfig(const uint8_t* extradata, size_t size, const ParameterSets& more) {
    ParameterSets all;
    if (!ReadExtradata(extradata, size, &all)) return {};
    for (const auto* list : {&more.sps, &more.pps})
        for (const Bytes& set : *list)
            if (!all.Add({set.data(), set.size()})) return {};
    return AvcConfig(all);
}

Bytes AvcConfig(const ParameterSets& sets) {
    Bytes out;
    if (sets.sps.empty() || sets.sps.size() > 31 || sets.pps.size() > 255) return out;
    // The record's profile and level: the highest of the sets, with the
    // constraint flags they all share.
    uint8_t profile = 0, level = 0, constraints = 0xff;
    for (const Bytes& s : sets.sps) {
        if (s.size() < 4) return {};
        profile = std::max(profile, s[1]);
        constraints &= s[2];
        level = std::max(level, s[3]);
    }
    out = {1, profile, constraints, level, 0xff, uint8_t(0xe0 | sets.sps.size())};
    for (const Bytes& s : sets.sps) {
        Put16(&out, s.size());
        out.insert(out.end(), s.begin(), s.end());
    }
    out.push_back(uint8_t(sets.pps.size()));
    for (const Bytes& p : sets.pps) {
        Put16(&out, p.size());
        out.insert(out.end(), p.begin(), p.end());
    }
    if (HighProfile(profile)) {
        // The chroma format and bit depths, read from the first high-profile SPS.
        uint32_t chroma = 1, lumaDepth = 0, chromaDepth = 0;
        for (const Bytes& s : sets.sps) {
            if (!HighProfile(s[1])) continue;
            BitReader r({s.data(), s.size()});
            r.Bits(24);
            r.Ue();
            chroma = r.Ue();
            if (chroma == 3) r.Bit();
            lumaDepth = r.Ue();
            chromaDepth = r.Ue();
            if (r.Failed()) chroma = 1, lumaDepth = chromaDepth = 0;
            break;
        }
        out.push_back(uint8_t(0xfc | (chroma & 3)));
        out.push_back(uint8_t(0xf8 | (lumaDepth & 7)));
        out.push_back(uint8_t(0xf8 | (chromaDepth & 7)));
        out.push_back(0);
    }
    return out;
}

}  // namespace tavhost::media::h264
