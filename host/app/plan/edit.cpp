#include "edit.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "render_defaults.h"

namespace tavhost {

bool ParseWholeNumber(const std::string& text, long long lo, long long hi, long long* out) {
    // Digits, after a minus sign at most: no space or plus sign before them.
    const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (first >= text.size() || !std::isdigit(static_cast<unsigned char>(text[first])))
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || v < lo || v > hi) return false;
    *out = v;
    return true;
}

namespace {

// A plain decimal number, all of `text`.
bool Decimal(const std::string& text, double* out) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.'))
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

}  // namespace

bool ParseTime(const std::string& text, TimeValue* out) {
    if (!text.empty() && text.back() == 'f') {
        long long frames;
        if (!ParseWholeNumber(text.substr(0, text.size() - 1), 0, 1LL << 40, &frames)) return false;
        *out = {double(frames), true};
        return true;
    }
    // [[h:]m:]s, minutes and seconds below 60 after the first field.
    double seconds = 0.0;
    size_t from = 0;
    int fields = 0;
    for (;;) {
        const size_t colon = text.find(':', from);
        const std::string part =
            text.substr(from, colon == std::string::npos ? colon : colon - from);
        double v;
        if (!Decimal(part, &v)) return false;
        if (fields > 0 && v >= 60.0) return false;
        seconds = seconds * 60.0 + v;
        ++fields;
        if (colon == std::string::npos) break;
        if (fields == 3 || part.find('.') != std::string::npos) return false;
        from = colon + 1;
    }
    if (!(seconds < 1e9)) return false;
    *out = {seconds, false};
    return true;
}

bool ParseTransitionWord(const std::string& text, TransitionEntry* out) {
    const size_t colon = text.rfind(':');
    std::string bundle = text;
    if (colon != std::string::npos) {
        long long variant;
        if (!ParseWholeNumber(text.substr(colon + 1), 1, defaults::kVariantMax, &variant))
            return false;
        out->variant = int16_t(variant);
        bundle = text.substr(0, colon);
    }
    if (bundle.empty()) return false;
    out->bundle = bundle;
    return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
    const size_t x = text.find('x');
    long long w, h;
    using defaults::kSizeMax, defaults::kSizeMin;
    if (x == std::string::npos || !ParseWholeNumber(text.substr(0, x), kSizeMin, kSizeMax, &w) ||
        !ParseWholeNumber(text.substr(x + 1), kSizeMin, kSizeMax, &h))
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

bool ParseFit(const std::string& text, media::Fit* fit) {
    if (text == "pad")
        *fit = media::Fit::kPad;
    else if (text == "crop")
        *fit = media::Fit::kCrop;
    else if (text == "stretch")
        *fit = media::Fit::kStretch;
    else
        return false;
    return true;
}

bool ParseRate(const std::string& text, media::Rational* rate) {
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        long long num, den;
        if (!ParseWholeNumber(text.substr(0, slash), 1, 1000000, &num) ||
            !ParseWholeNumber(text.substr(slash + 1), 1, 1000000, &den) ||
            num > defaults::kRateMax * den)
            return false;
        *rate = {int(num), int(den)};
        return true;
    }
    double v;
    if (!Decimal(text, &v) || !(v >= 1.0 && v <= defaults::kRateMax)) return false;
    // 23.976, 29.97 and 59.94 are the NTSC rates; other values to 1/1000.
    for (const int base : {24, 30, 60})
        if (std::abs(v - base * 1000.0 / 1001.0) < 0.005) {
            *rate = {base * 1000, 1001};
            return true;
        }
    const int num = int(std::lround(v * 1000.0));
    const int g = std::gcd(num, 1000);
    *rate = {num / g, 1000 / g};
    return true;
}

const std::vector<std::string>& H264Presets() {
    static const std::vector<std::string> kPresets = {
        "ultrafast", "superfast", "veryfast", "faster",   "fast",
        "medium",    "slow",      "slower",   "veryslow", "placebo"};
    return kPresets;
}

}  // namespace tavhost
