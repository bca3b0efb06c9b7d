// Fuzzes the join with damaged parts: the input is written as a part file
// and joined alone into a movie, as `tavhost join` does. Whatever the bytes,
// the join either writes a movie or says one line and leaves nothing behind.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "part_join.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace fs = std::filesystem;
    static const fs::path dir =
        fs::temp_directory_path() / ("tav-join-fuzz-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string part = (dir / "part.mkv").string(), movie = (dir / "movie.mkv").string();
    FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    fs::remove(movie);

    tavhost::JoinSummary summary;
    std::string error;
    const bool joined = tavhost::JoinParts({part}, movie, &summary, &error);
    // One line, or a movie; and only ever the part and the movie in the folder.
    if (joined != error.empty() || error.find('\n') != std::string::npos) std::abort();
    if (joined != fs::exists(movie)) std::abort();
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path() != part && entry.path() != movie) std::abort();
    return 0;
}
