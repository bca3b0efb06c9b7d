// Fuzzes the drawing layer and the host's pixel services: worlds with their
// origin anywhere, fills, copies (same size and scaled, onto the same world),
// and text with Pascal strings allocated to their exact size. After every
// operation: no pixel outside the clipped rectangle changed, a same-size copy
// put the source's pixels where they belong, and the pen moved by what
// StringWidth measured.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "scoped_port.h"
#include "tav/pixel_area.h"

namespace {

using tav::PixelArea;

[[noreturn]] void Broken(const char* contract, const std::string& detail = "") {
    std::fprintf(stderr, "contract broken: %s %s\n", contract, detail.c_str());
    std::abort();
}

struct World {
    GWorldPtr world = nullptr;
    World(FuzzedDataProvider& in) {
        const int16_t w = int16_t(in.ConsumeIntegralInRange(1, 48));
        const int16_t h = int16_t(in.ConsumeIntegralInRange(1, 48));
        const int16_t top = int16_t(in.ConsumeIntegralInRange(-32768, 32767 - h));
        const int16_t left = int16_t(in.ConsumeIntegralInRange(-32768, 32767 - w));
        const Rect bounds = {top, left, int16_t(top + h), int16_t(left + w)};
        if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr) Broken("NewGWorld");
        PixMap& pm = Map();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) TavPixelRow(pm, y)[x] = 0xFF000000u | uint32_t(y << 8 | x);
    }
    ~World() { DisposeGWorld(world); }
    PixMap& Map() const { return **GetGWorldPixMap(world); }
    Rect Bounds() const { return Map().bounds; }
    uint32_t At(int x, int y) const {
        return TavPixelRow(Map(), y - Bounds().top)[x - Bounds().left];
    }
    std::vector<uint32_t> Pixels() const {
        std::vector<uint32_t> out;
        const PixMap& pm = Map();
        for (int y = 0; y < pm.bounds.bottom - pm.bounds.top; ++y)
            out.insert(out.end(), TavPixelRow(pm, y),
                       TavPixelRow(pm, y) + (pm.bounds.right - pm.bounds.left));
        return out;
    }
};

Rect ConsumeRect(FuzzedDataProvider& in, const Rect& near) {
    if (in.ConsumeBool()) {
        auto around = [&](int16_t v) {
            return int16_t(std::clamp(v + in.ConsumeIntegralInRange<int>(-60, 60), -32768, 32767));
        };
        return {around(near.top), around(near.left), around(near.bottom), around(near.right)};
    }
    return {in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>(),
            in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>()};
}

// Every pixel of `w` outside `changed` is as it was.
void CheckOnlyInside(const World& w, const std::vector<uint32_t>& before, const PixelArea& changed,
                     const char* what) {
    const std::vector<uint32_t> after = w.Pixels();
    const Rect b = w.Bounds();
    const int width = b.right - b.left;
    for (size_t i = 0; i < after.size(); ++i) {
        const int x = b.left + int(i % size_t(width)), y = b.top + int(i / size_t(width));
        const bool inside =
            x >= changed.left && x < changed.right && y >= changed.top && y < changed.bottom;
        if (!inside && after[i] != before[i])
            Broken(what, std::to_string(x) + "," + std::to_string(y));
    }
}

void Fill(FuzzedDataProvider& in, World& w) {
    const Rect r = ConsumeRect(in, w.Bounds());
    const RGBColor colour = {in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint16_t>(),
                             in.ConsumeIntegral<uint16_t>()};
    const std::vector<uint32_t> before = w.Pixels();
    const int how = in.ConsumeIntegralInRange(0, 2);
    if (how == 0) {
        tavhost::Host::kProcs.FillRect(&w.Map(), &r, &colour);
    } else {
        tavhost::ScopedPort port(w.world);
        RGBForeColor(&colour);
        RGBBackColor(&colour);
        how == 1 ? PaintRect(&r) : EraseRect(&r);
    }
    const PixelArea area = tav::Clip(PixelArea::Of(r), PixelArea::Of(w.Bounds()));
    CheckOnlyInside(w, before, area, "fill changed a pixel outside its rectangle");
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (w.At(x, y) != TavPixelFromRGB(colour)) Broken("fill missed a pixel");
}

void Copy(FuzzedDataProvider& in, World& a, World& b) {
    World& src = in.ConsumeBool() ? a : b;
    World& dst = in.ConsumeBool() ? a : b;
    Rect srcRect = ConsumeRect(in, src.Bounds());
    Rect dstRect = ConsumeRect(in, dst.Bounds());
    if (in.ConsumeBool()) {  // same size
        dstRect.bottom =
            int16_t(std::clamp(dstRect.top + (srcRect.bottom - srcRect.top), -32768, 32767));
        dstRect.right =
            int16_t(std::clamp(dstRect.left + (srcRect.right - srcRect.left), -32768, 32767));
    }
    const std::vector<uint32_t> srcBefore = src.Pixels();
    const World* srcWorld = &src;
    const std::vector<uint32_t> before = dst.Pixels();
    if (tavhost::Host::kProcs.Blit(&src.Map(), &dst.Map(), &srcRect, &dstRect, 255) != kPluginOK)
        Broken("Blit result");
    const PixelArea to = PixelArea::Of(dstRect), from = PixelArea::Of(srcRect);
    CheckOnlyInside(dst, before, tav::Clip(to, PixelArea::Of(dst.Bounds())),
                    "copy changed a pixel outside its rectangle");
    if (srcWorld == &dst || to.Empty() || to.Width() != from.Width() ||
        to.Height() != from.Height())
        return;
    const Rect sb = src.Bounds();
    const int sw = sb.right - sb.left;
    const PixelArea area = tav::Clip(to, PixelArea::Of(dst.Bounds()));
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            const int sx = x - to.left + from.left, sy = y - to.top + from.top;
            if (sx < sb.left || sx >= sb.right || sy < sb.top || sy >= sb.bottom) continue;
            if (dst.At(x, y) != srcBefore[size_t(sy - sb.top) * size_t(sw) + size_t(sx - sb.left)])
                Broken("copy put a wrong pixel");
        }
}

void Text(FuzzedDataProvider& in, World& w) {
    const std::string text = in.ConsumeRandomLengthString(255);
    // Exactly length + 1 bytes, so a read past the string is caught.
    std::unique_ptr<unsigned char[]> s(new unsigned char[text.size() + 1]);
    s[0] = static_cast<unsigned char>(text.size());
    std::memcpy(s.get() + 1, text.data(), text.size());
    Point start, end;
    short width;
    {
        tavhost::ScopedPort port(w.world);
        TextSize(short(in.ConsumeIntegralInRange(-4, 200)));
        const Rect b = w.Bounds();
        MoveTo(short(std::clamp(b.left + in.ConsumeIntegralInRange(-300, 100), -32768, 32767)),
               short(std::clamp(b.top + in.ConsumeIntegralInRange(-100, 150), -32768, 32767)));
        GetPortPenLocation(w.world, &start);
        width = StringWidth(s.get());
        DrawString(s.get());
        GetPortPenLocation(w.world, &end);
    }
    if (width < 32767 && end.h != short(start.h + width))
        Broken("pen advance", std::to_string(end.h - start.h) + " vs " + std::to_string(width));
    if (end.v != start.v) Broken("pen moved off the baseline");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    World a(in), b(in);
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
                Fill(in, in.ConsumeBool() ? a : b);
                break;
            case 1:
            case 2:
                Copy(in, a, b);
                break;
            default:
                Text(in, in.ConsumeBool() ? a : b);
                break;
        }
    }
    return 0;
}
