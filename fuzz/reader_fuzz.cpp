// Fuzzes the clip reader with damaged media: the input is written to a file
// and read as tavhost reads a clip (probe, decode, scale, resample), at a
// small output size, for at most a few dozen frames.
#include <unistd.h>

#include <cstdio>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "media.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/tav-reader-fuzz-" + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    using namespace tavhost::media;
    std::string error;
    ClipInfo info;
    if (!Probe(path, &info, &error)) return 0;
    ClipReader::Options options;
    options.width = 32;
    options.height = 24;
    options.fps = {25, 1};
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
