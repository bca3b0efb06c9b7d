#include "part_tags.h"

#include <charconv>
#include <cstring>

#include "render_defaults.h"

namespace tavhost::media {

namespace {

constexpr const char* kPart = "TAV_PART";      // "K/N"
constexpr const char* kFrames = "TAV_FRAMES";  // "FIRST-END/TOTAL"
constexpr const char* kRate = "TAV_RATE";      // "NUM/DEN"
constexpr const char* kPlan = "TAV_PLAN";

// A render of at most ten million frames (46 hours at 60 fps) at no more
// than the highest output rate: a frame's first sound sample (frames x
// sample rate x the rate's denominator) then stays well inside 64 bits for
// any sample rate a part may have (kMostSampleRate).
constexpr int64_t kMostFrames = 10'000'000;

// A whole number from `text` at `at`, moving `at` past it.
bool Number(const std::string& text, size_t* at, int64_t* out) {
    const char* begin = text.data() + *at;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, *out);
    if (ec != std::errc() || ptr == begin) return false;
    *at = size_t(ptr - text.data());
    return true;
}

bool Expect(const std::string& text, size_t* at, char c) {
    if (*at >= text.size() || text[*at] != c) return false;
    ++*at;
    return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> PartTags::Tags() const {
    return {
        {kPart, std::to_string(index) + "/" + std::to_string(count)},
        {kFrames, std::to_string(first) + "-" + std::to_string(end) + "/" + std::to_string(total)},
        {kRate, std::to_string(rate.num) + "/" + std::to_string(rate.den)},
        {kPlan, plan}};
}

bool PartTags::Read(const std::function<const char*(const char*)>& get, PartTags* out) {
    const char* part = get(kPart);
    const char* frames = get(kFrames);
    const char* rate = get(kRate);
    const char* plan = get(kPlan);
    if (!part || !frames || !rate || !plan || !*plan) return false;
    PartTags t;
    int64_t index = 0, count = 0;
    std::string text = part;
    size_t at = 0;
    if (!Number(text, &at, &index) || !Expect(text, &at, '/') || !Number(text, &at, &count) ||
        at != text.size())
        return false;
    text = frames;
    at = 0;
    if (!Number(text, &at, &t.first) || !Expect(text, &at, '-') || !Number(text, &at, &t.end) ||
        !Expect(text, &at, '/') || !Number(text, &at, &t.total) || at != text.size())
        return false;
    int64_t num = 0, den = 0;
    text = rate;
    at = 0;
    if (!Number(text, &at, &num) || !Expect(text, &at, '/') || !Number(text, &at, &den) ||
        at != text.size() || num < 1 || den < 1 || num > 1000000 || den > 1000000 ||
        num > defaults::kRateMax * den)
        return false;
    t.rate = {int(num), int(den)};
    if (count < 1 || count > defaults::kPartsMax || index < 1 || index > count || t.first < 0 ||
        t.end < t.first || t.total < t.end || t.total > kMostFrames)
        return false;
    t.index = int(index);
    t.count = int(count);
    t.plan = std::string(plan).substr(0, 64);
    *out = t;
    return true;
}

}  // namespace tavhost::media
