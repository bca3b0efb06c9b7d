// Fuzzes the clip reader with damaged media: the input is written to a file
// and read as tavhost reads a clip (probe with its packet index, decode,
// scale, resample), at a small output size, for at most a few dozen frames.
// The same bytes go through the H.264 unit parsing as packets and as an avcC
// record, whose sets must read back from the record they make.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "clip_reader.h"
#include "h264_units.h"
#include "packet_index.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

namespace {

void Units(const uint8_t* data, size_t size) {
    namespace h264 = tavhost::media::h264;
    std::vector<h264::Unit> units;
    for (int lengthSize = 0; lengthSize <= 4; ++lengthSize)
        if (h264::Split(data, size, lengthSize, &units))
            for (const h264::Unit& u : units) {
                if (u.data < data || u.data + u.size > data + size) std::abort();
                h264::ParameterSetId(u);
            }
    h264::ParameterSets sets;
    if (!h264::ReadExtradata(data, size, &sets) || sets.sps.empty()) return;
    const h264::Bytes config = h264::AvcConfig(sets);
    h264::ParameterSets back;
    if (!config.empty() &&
        (!h264::ReadExtradata(config.data(), config.size(), &back) || !(back == sets)))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Units(data, size);
    static const std::string path = "/tmp/tav-reader-fuzz-" + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    using namespace tavhost::media;
    std::string error;
    ClipInfo info;
    PacketIndex index;
    if (!Probe(path, &info, &error, &index)) return 0;
    if (int64_t(index.packets.size()) < info.packets) std::abort();
    ClipReader::Options options;
    options.output.width = 32;
    options.output.height = 24;
    options.output.fps = {25, 1};
    auto reader = ClipReader::Open(path, options, &error);
    if (!reader) return 0;
    const int64_t frames = std::min<int64_t>(reader->FrameCount(), 40);
    for (int64_t i = 0; i < frames; ++i) {
        const Frame* frame = reader->Get(i, &error);
        if (!frame) break;
        if (frame->width != 32 || frame->height != 24 || frame->Pixels().size() != 32u * 24u)
            std::abort();
    }
    return 0;
}
