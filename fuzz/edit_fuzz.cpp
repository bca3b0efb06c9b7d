// Fuzzes edit files: any bytes as the file, through the real loader. The
// answer is one line naming the file, or an edit whose every part is usable:
// clips with paths, one join between each two, trims and lengths in range.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "edit_file.h"

namespace {

[[noreturn]] void Broken(const char* contract) {
    std::fprintf(stderr, "contract broken: %s\n", contract);
    std::abort();
}

void CheckTransition(const tavhost::TransitionEntry& t) {
    if (t.bundle.empty()) Broken("a transition names a bundle");
    if (t.variant < 1) Broken("variant in range");
    if (!(t.speed >= 0.0f && t.speed <= 1.0f)) Broken("speed in range");
    if (t.length && !(t.length->value > 0.0)) Broken("a length is more than nothing");
    if (t.where.empty()) Broken("a transition says where it was given");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/tav-edit-fuzz-" + std::to_string(getpid()) + ".json";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    tavhost::Edit edit;
    tavhost::OutputSettings settings;
    std::string output, error;
    if (!tavhost::LoadEdit(path, &edit, &settings, &output, &error)) {
        if (error.find(path) == std::string::npos) Broken("a mistake names the file");
        if (error.find('\n') != std::string::npos) Broken("a mistake is one line");
        return 0;
    }
    if (edit.clips.empty()) Broken("an edit has clips");
    if (edit.joins.size() + 1 != edit.clips.size()) Broken("one join between each two clips");
    for (const tavhost::ClipEntry& c : edit.clips) {
        if (c.path.empty() || c.where.empty()) Broken("a clip has a path and a place");
        for (const auto& point : {c.in, c.out})
            if (point && !(point->value >= 0.0 && point->value < 1e12)) Broken("trim in range");
        if (c.duration && !(*c.duration >= 0.04 && *c.duration <= 3600)) Broken("duration");
    }
    for (const auto& j : edit.joins)
        if (j) CheckTransition(*j);
    if (edit.open) CheckTransition(*edit.open);
    if (edit.close) CheckTransition(*edit.close);
    if (settings.crf && (*settings.crf < 0 || *settings.crf > 51)) Broken("crf in range");
    if (settings.rate && (settings.rate->num < 1 || settings.rate->Value() > 240.0))
        Broken("rate in range");
    return 0;
}
