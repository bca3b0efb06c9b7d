// H.264 at the level of NAL units: splitting packets, reading parameter-set
// ids, and the avcC record that lets one movie carry the parameter sets of
// several encoders (the clips' and ours) side by side under distinct ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavhost::media::h264 {

enum NalType { kIdrSlice = 5, kSps = 7, kPps = 8 };

struct Unit {
    const uint8_t* data = nullptr;
    size_t size = 0;
    int Type() const { return size ? data[0] & 0x1f : -1; }
};

// The NAL units of a packet: `lengthSize` (1 to 4) bytes of length before
// each, or 0 for Annex B start codes. False when a length runs past the end.
bool Split(const uint8_t* data, size_t size, int lengthSize, std::vector<Unit>* units);

// Appends `unit` after a 4-byte big-endian length.
void AppendWithLength(const Unit& unit, std::vector<uint8_t>* out);

// A packet (framed as Split takes it) as 4-byte-length units in `out`,
// without its SPS and PPS units unless `keepSets`. False if it cannot be split.
bool WithLengths(const uint8_t* data, size_t size, int lengthSize, bool keepSets,
                 std::vector<uint8_t>* out);

// What an SPS says of the decoded-picture buffer a decoder keeps: when two
// sequences meet at an IDR picture and the one taking over keeps fewer
// reference frames or a smaller buffer, a conforming decoder may drop the
// pictures it has not yet output. Spliced sequences must agree on both.
struct DpbNeeds {
    int profile = 0, level = 0;
    int refFrames = -1;        // max_num_ref_frames
    int decodeBuffering = -1;  // max_dec_frame_buffering; -1 when the SPS leaves it to the level
    bool operator==(const DpbNeeds& o) const {
        return refFrames == o.refFrames && decodeBuffering == o.decodeBuffering;
    }
};

// Reads an SPS unit; false when it is not one or cannot be read to its VUI.
bool ReadDpbNeeds(const Unit& sps, DpbNeeds* out);

// The id an SPS or PPS declares (seq_parameter_set_id or
// pic_parameter_set_id); -1 for another unit or one too short to say.
int ParameterSetId(const Unit& unit);

using Bytes = std::vector<uint8_t>;

// The SPS and PPS units a stream uses, and how its packets frame units.
struct ParameterSets {
    std::vector<Bytes> sps, pps;
    int lengthSize = 0;  // of the packets; 0 for Annex B

    // Adds `unit` (an SPS or PPS) unless the same bytes are listed. False when
    // another set of its kind already has its id: the stream changes its sets.
    bool Add(const Unit& unit);
    bool operator==(const ParameterSets& other) const {
        return sps == other.sps && pps == other.pps;
    }
    // Whether an SPS or a PPS uses `id`.
    bool Uses(int id) const;
};

// The sets in a stream's extradata (an avcC record or Annex B units).
bool ReadExtradata(const uint8_t* data, size_t size, ParameterSets* sets);

// An avcC record with every set in `sets`, for packets with 4-byte lengths.
Bytes AvcConfig(const ParameterSets& sets);

// An avcC record with the sets of `extradata` and `more` side by side; empty
// when they cannot be read or two sets of a kind share an id.
Bytes CombinedConfig(const uint8_t* extradata, size_t size, const ParameterSets& more);

}  // namespace tavhost::media::h264
