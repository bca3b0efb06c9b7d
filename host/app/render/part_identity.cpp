#include "part_identity.h"

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace tavhost {

uint64_t Fnv1a(const std::string& text) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

media::PartTags PartTagsOf(const Sequence& s) {
    // Clips by file name and content, not path: the parts of one render may
    // run on machines that mount the clips in different places, and two
    // folders of photos may share their file names.
    std::ostringstream plan;
    plan.precision(17);
    const media::OutputFormat& f = s.format;
    plan << f.width << 'x' << f.height << '@' << f.fps.num << '/' << f.fps.den << ' '
         << f.sound.rate << '/' << f.sound.channels << ' ' << s.encoding.preset << ' '
         << s.encoding.crf << ' ' << s.preview << s.copying << ' ' << s.seed << '\n';
    for (const PlannedClip& c : s.clips)
        plan << std::filesystem::path(c.path).filename().string() << ' ' << c.frames << ' '
             << c.options.inSeconds << ' ' << c.options.outSeconds << ' ' << c.options.stillSeconds
             << ' ' << int(c.options.fit) << ' ' << c.info.width << 'x' << c.info.height << ' '
             << c.info.packets << ' ' << c.info.content << '\n';
    for (size_t k = 0; k < s.transitions.size(); ++k) {
        const PlannedTransition& t = s.transitions[k];
        const Placement& p = s.timeline.transitions[k];
        plan << t.bundle->Name() << ' ' << t.variant << ' ' << t.speed << ' ' << t.seed << ' '
             << p.start << ' ' << p.frames << ' ' << p.clip << '\n';
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a(plan.str())));
    media::PartTags tags;
    tags.index = s.piece.index;
    tags.count = s.piece.count;
    tags.first = s.piece.first;
    tags.end = s.piece.end;
    tags.total = s.timeline.total;
    tags.rate = f.fps;
    tags.plan = hex;
    return tags;
}

}  // namespace tavhost
