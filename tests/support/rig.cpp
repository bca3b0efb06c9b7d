#include "rig.h"

#include <map>

namespace tavtest {

uint32_t PatternClips::Pixel(int32_t number, int x, int y) {
    const uint32_t r = uint32_t(number * 97 + x * 5) & 0xFF;
    const uint32_t g = uint32_t(number * 13 + y * 3) & 0xFF;
    const uint32_t b = 0x40 + (uint32_t(x + y + number) & 0x7F);
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

TavPluginResult PatternClips::ProvideFrame(int32_t number, bool, PixMap* picture,
                                           std::vector<float>& audio, int16_t& frameVolume) {
    if (number < 0 || number >= limit) return kPluginCantGetNeededFrame;
    ++provided;
    const int w = picture ? picture->bounds.right - picture->bounds.left : 0;
    const int h = picture ? picture->bounds.bottom - picture->bounds.top : 0;
    for (int y = 0; y < h; ++y) {
        uint32_t* row = TavPixelRow(*picture, y);
        for (int x = 0; x < w; ++x) row[x] = Pixel(number, x, y);
    }
    audio.assign(tavhost::OutputFormat{}.FloatsPerFrame(), Sample(number));
    frameVolume = volume;
    return kPluginOK;
}

const tavhost::Bundle& LoadBundle(const std::string& name) {
    static std::map<std::string, std::unique_ptr<tavhost::Bundle>> loaded;
    auto& slot = loaded[name];
    if (!slot) {
        std::string error;
        slot = tavhost::Bundle::Open(name, &error);
        if (!slot) throw std::runtime_error(error);
    }
    return *slot;
}

Rig::Rig(const std::string& bundle, int16_t which, int width, int height)
    : inst(LoadBundle(bundle), host, which, rec.Procs()),
      frameRect{0, 0, int16_t(height), int16_t(width)} {
    host.SetProvider(&clips);
    host.EnsureOutputWorld(width, height);
    ResetRand();
}

void Rig::Start(float speed) {
    EXPECT_EQ(inst.GetInfo(speed), kPluginOK);
    EXPECT_EQ(inst.Initialize(), kPluginOK);
    rec.Clear();
}

int32_t Rig::Frame(int32_t renderFrame, int32_t frameCount, int32_t startFrame) {
    return inst.DoFrame(startFrame, renderFrame, frameCount, frameRect);
}

uint32_t Rig::Out(int x, int y) {
    PixMap& pm = **GetGWorldPixMap(host.OutputWorld());
    return TavPixelRow(pm, y - pm.bounds.top)[x - pm.bounds.left];
}

}  // namespace tavtest

namespace tavtest {

std::vector<uint32_t> Rig::OutPixels() {
    PixMap& pm = **GetGWorldPixMap(host.OutputWorld());
    std::vector<uint32_t> out;
    for (int y = 0; y < pm.bounds.bottom - pm.bounds.top; ++y) {
        const uint32_t* row = TavPixelRow(pm, y);
        out.insert(out.end(), row, row + (pm.bounds.right - pm.bounds.left));
    }
    return out;
}

void Rig::SetPortColours(const RGBColor& fore, const RGBColor& back) {
    CGrafPtr port;
    GDHandle device;
    GetGWorld(&port, &device);
    SetGWorld(host.OutputWorld(), nullptr);
    RGBForeColor(&fore);
    RGBBackColor(&back);
    SetGWorld(port, device);
}

RGBColor Rig::Fore() {
    RGBColor c;
    GetPortForeColor(host.OutputWorld(), &c);
    return c;
}

RGBColor Rig::Back() {
    RGBColor c;
    GetPortBackColor(host.OutputWorld(), &c);
    return c;
}

}  // namespace tavtest
