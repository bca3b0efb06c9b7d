#include "damage_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tavhost {
namespace {

std::string Clock(double seconds) {
    seconds = std::max(0.0, seconds);
    char at[32];
    std::snprintf(at, sizeof at, "%d:%05.2f", int(seconds / 60), std::fmod(seconds, 60.0));
    return at;
}

std::string Pictures(int64_t n) {
    return std::to_string(n) + (n == 1 ? " picture" : " pictures");
}

}  // namespace

std::string DamageReport(const std::string& label, const media::Damage& d) {
    std::string text = label + " is damaged";
    std::string inside;
    if (d.lostFrames > 0) {
        inside = Pictures(d.lostFrames) + (d.lostFrames == 1 ? " is" : " are") +
                 " missing or could not be decoded";
        if (d.firstAt >= 0)
            inside += (d.lostFrames == 1 ? ", at " : ", the first at ") + Clock(d.firstAt);
        inside += d.lostFrames == 1 ? "; the nearest good picture stands in for it"
                                    : "; the nearest good picture stands in for each";
    } else if (d.errors > 0 && !d.cutShort && d.firstAt >= 0) {
        // Decoding complained, yet every picture came out.
        inside = "some of it from " + Clock(d.firstAt) + " could not be decoded cleanly";
    }
    if (d.cutShort) {
        text += ": the file is cut short, its pictures end at " + Clock(d.endsAt);
        if (d.missingAtEnd > 0)
            text += ", " + Pictures(d.missingAtEnd) + " before the length it gives";
        text += ", and the clip ends there";
        if (!inside.empty()) text += "; before that, " + inside;
        return text;
    }
    if (inside.empty()) inside = "some of it could not be read";
    return text + ": " + inside;
}

}  // namespace tavhost
