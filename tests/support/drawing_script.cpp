#include "drawing_script.h"

#include <algorithm>

#include "tav/pixel_area.h"

namespace tavtest {

namespace {

struct Script {
    const std::vector<uint8_t>* bytes = nullptr;
    size_t at = 0;
    uint8_t Next() { return at < bytes->size() ? (*bytes)[at++] : 0; }
    bool Done() const { return at >= bytes->size(); }
};

thread_local Script tScript;

struct Held {
    GWorldPtr world = nullptr;
    TavFrameCookie cookie = nullptr;
};

// A coordinate near the frame: a few pixels either side of it.
int16_t Near(uint8_t b, int16_t from, int16_t to) {
    const int span = std::max(1, to - from + 8);
    return int16_t(from - 4 + b % span);
}

Rect NearRect(const Rect& f) {
    Rect r;
    r.left = Near(tScript.Next(), f.left, f.right);
    r.top = Near(tScript.Next(), f.top, f.bottom);
    r.right = int16_t(r.left + tScript.Next() % 12);
    r.bottom = int16_t(r.top + tScript.Next() % 12);
    return r;
}

RGBColor ColourOf(uint8_t b) {
    const uint16_t v = uint16_t(b * 257);
    return {v, uint16_t(0xFFFF - v), uint16_t(b & 1 ? 0xFFFF : 0)};
}

int32_t ScriptMain(int32_t, TavPluginParams* params) {
    if (params->selector != kPlugDoFrame) return kPluginOK;
    TavProcs& procs = *params->procs;
    const Rect frame = params->frameRect;
    const int32_t w = std::max(1, frame.right - frame.left);
    const int32_t h = std::max(1, frame.bottom - frame.top);
    PixMapPtr out = *GetGWorldPixMap(params->frame);
    CGrafPtr oldPort;
    GDHandle oldDevice;
    GetGWorld(&oldPort, &oldDevice);
    SetGWorld(params->frame, nullptr);
    std::vector<Held> held;
    auto source = [&](uint8_t b) -> PixMapPtr {
        if (held.empty() || b % 5 == 0) return out;
        return *GetGWorldPixMap(held[b % held.size()].world);
    };
    int32_t result = kPluginOK;
    while (!tScript.Done() && result == kPluginOK) {
        const uint8_t op = tScript.Next() % 10;
        switch (op) {
            case 0: {  // fetch a source frame
                if (held.size() >= 3) break;
                Held f;
                int16_t volume = 0;
                const int32_t number = tScript.Next() % 4;
                result = procs.GetFrame(params->instance, number, &f.world, w, h, kDVHighQuality,
                                        &volume, &f.cookie);
                if (result == kPluginOK) held.push_back(f);
                break;
            }
            case 1:  // give one back
                if (!held.empty()) {
                    procs.ReleaseFrame(params->instance, held.front().cookie);
                    held.erase(held.begin());
                }
                break;
            case 2: {  // a copy of the same size, at the same place or moved
                PixMapPtr src = source(tScript.Next());
                const Rect d = NearRect(frame);
                const int16_t dx =
                    int16_t(tScript.Next() % 3 == 0 ? int(tScript.Next() % 9) - 4 : 0);
                Rect s = d;
                s.left = int16_t(s.left - frame.left + dx);
                s.right = int16_t(s.right - frame.left + dx);
                s.top = int16_t(s.top - frame.top);
                s.bottom = int16_t(s.bottom - frame.top);
                procs.Blit(src, out, &s, &d, 255);
                break;
            }
            case 3: {  // a scaled copy
                PixMapPtr src = source(tScript.Next());
                const Rect s = NearRect(frame), d = NearRect(frame);
                procs.Blit(src, out, &s, &d, 255);
                break;
            }
            case 4: {  // paint or erase through the drawing layer
                const RGBColor c = ColourOf(tScript.Next());
                RGBForeColor(&c);
                const Rect r = tScript.Next() & 1 ? frame : NearRect(frame);
                if (tScript.Next() & 1)
                    PaintRect(&r);
                else
                    EraseRect(&r);
                break;
            }
            case 5: {  // the host's fill service, into the output or a source
                const RGBColor c = ColourOf(tScript.Next());
                const Rect r = NearRect(frame);
                PixMapPtr dst = source(tScript.Next());
                procs.FillRect(dst, &r, &c);
                break;
            }
            case 6: {  // drawing into a source, then copying it out
                if (held.empty()) break;
                const Held& f = held[tScript.Next() % held.size()];
                SetGWorld(f.world, nullptr);
                const Rect r = {0, 0, int16_t(h / 2 + 1), int16_t(w / 2 + 1)};
                PaintRect(&r);
                SetGWorld(params->frame, nullptr);
                const Rect s = {0, 0, int16_t(h), int16_t(w)};
                procs.Blit(*GetGWorldPixMap(f.world), out, &s, &frame, 255);
                break;
            }
            case 7: {  // text
                MoveTo(Near(tScript.Next(), frame.left, frame.right),
                       Near(tScript.Next(), frame.top, frame.bottom));
                TextSize(int16_t(6 + tScript.Next() % 10));
                const unsigned char text[] = {2, 'T', 'a'};
                DrawString(text);
                break;
            }
            case 8: {  // boxes on a grid, each from a source or a colour
                const int16_t step = int16_t(1 + tScript.Next() % 6);
                const uint8_t pattern = tScript.Next();
                PixMapPtr src = source(tScript.Next());
                int n = 0;
                for (int32_t y = 0; y < h; y += step)
                    for (int32_t x = 0; x < w; x += step, ++n) {
                        if (!((pattern >> (n % 8)) & 1)) continue;
                        const Rect s = {int16_t(y), int16_t(x), int16_t(std::min(y + step, h)),
                                        int16_t(std::min(x + step, w))};
                        const Rect d = {int16_t(frame.top + s.top), int16_t(frame.left + s.left),
                                        int16_t(frame.top + s.bottom),
                                        int16_t(frame.left + s.right)};
                        if (n % 3 == 0)
                            PaintRect(&d);
                        else
                            procs.Blit(src, out, &s, &d, 255);
                    }
                break;
            }
            default: {  // the whole frame from a source
                PixMapPtr src = source(tScript.Next());
                const Rect s = {0, 0, int16_t(h), int16_t(w)};
                procs.Blit(src, out, &s, &frame, 255);
            }
        }
    }
    for (const Held& f : held) procs.ReleaseFrame(params->instance, f.cookie);
    const RGBColor black = {0, 0, 0};
    RGBForeColor(&black);
    SetGWorld(oldPort, oldDevice);
    return result;
}

}  // namespace

int32_t RunDrawingScript(tavhost::Host& host, GWorldPtr world, const Rect& frameRect,
                         const std::vector<uint8_t>& script) {
    tScript = Script{&script, 0};
    TavPluginParams params{};
    params.interfaceVersion = tavhost::kHostInterfaceVersion;
    params.instance = host.Instance();
    params.selector = kPlugDoFrame;
    params.procs = const_cast<TavProcs*>(&tavhost::Host::kProcs);
    params.frameCount = 10;
    params.frameRect = frameRect;
    params.frame = world;
    return host.Call(ScriptMain, kPlugDoFrame, params);
}

std::vector<uint32_t> WorldPixels(GWorldPtr world) {
    const PixMap& pm = **GetGWorldPixMap(world);
    std::vector<uint32_t> out;
    for (int y = 0; y < pm.bounds.bottom - pm.bounds.top; ++y) {
        const uint32_t* row = TavPixelRow(pm, y);
        out.insert(out.end(), row, row + (pm.bounds.right - pm.bounds.left));
    }
    return out;
}

void PaintPattern(GWorldPtr world, uint32_t salt) {
    const PixMap& pm = **GetGWorldPixMap(world);
    for (int y = 0; y < pm.bounds.bottom - pm.bounds.top; ++y) {
        uint32_t* row = TavPixelRow(pm, y);
        for (int x = 0; x < pm.bounds.right - pm.bounds.left; ++x)
            row[x] = 0xFF000000u | ((uint32_t(x) * 2654435761u + uint32_t(y) * 40503u) ^ salt);
    }
}

}  // namespace tavtest
