// Graphics worlds with real pixels, per-thread current port, pixel-map and
// handle lock state, colours and rectangle filling.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "port.h"
#include "tav/pixel_area.h"

namespace {

thread_local CGrafPtr tCurrentPort = nullptr;
thread_local GDHandle tCurrentDevice = nullptr;
std::atomic<int32_t> gLiveWorlds{0};
std::atomic<int32_t> gNextDeviceID{1};

constexpr RGBColor kBlack = {0, 0, 0};
constexpr RGBColor kWhite = {0xFFFF, 0xFFFF, 0xFFFF};

HandleBlock* BlockOf(Handle h) {
    return reinterpret_cast<HandleBlock*>(h);
}

bool ClassicColor(int32_t index, RGBColor* out) {
    struct Entry {
        int32_t index;
        RGBColor rgb;
    };
    static constexpr Entry kColors[] = {
        {blackColor, {0x0000, 0x0000, 0x0000}},   {whiteColor, {0xFFFF, 0xFFFF, 0xFFFF}},
        {redColor, {0xDD6B, 0x08C2, 0x06A2}},     {greenColor, {0x0000, 0x8000, 0x11B0}},
        {blueColor, {0x0000, 0x0000, 0xD400}},    {cyanColor, {0x0241, 0xAB54, 0xEAFF}},
        {magentaColor, {0xF2D7, 0x0856, 0x84EC}}, {yellowColor, {0xFC00, 0xF37D, 0x052F}},
    };
    for (const Entry& e : kColors) {
        if (e.index == index) {
            *out = e.rgb;
            return true;
        }
    }
    return false;
}

}  // namespace

namespace tavdraw {

CGrafPort* CurrentPort() {
    return tCurrentPort;
}

void FillPortRect(CGrafPort* port, const Rect& r, uint32_t pixel) {
    if (WorldWatcher* watcher = port->pixMap.watcher)
        if (watcher->TakeFill(port->pixMap, r, pixel)) return;
    tav::FillPixels(port->pixMap, r, pixel);
}

}  // namespace tavdraw

using tavdraw::CurrentPort;

extern "C" {

OSErr NewGWorld(GWorldPtr* offscreenGWorld, short pixelDepth, const Rect* bounds, CTabHandle,
                GDHandle, GWorldFlags) {
    if (!offscreenGWorld || !bounds) return paramErr;
    *offscreenGWorld = nullptr;
    if (pixelDepth != 0 && pixelDepth != 32) return paramErr;
    const int32_t width = int32_t(bounds->right) - bounds->left;
    const int32_t height = int32_t(bounds->bottom) - bounds->top;
    if (width <= 0 || height <= 0 || width > kTavMaxWorldSide || height > kTavMaxWorldSide)
        return paramErr;
    // Rows padded to 64 bytes so every row starts cache-line aligned.
    const int32_t rowBytes = (width * 4 + 63) / 64 * 64;
    if (int64_t(rowBytes) * height > kTavMaxWorldBytes) return paramErr;

    auto* port = new (std::nothrow) CGrafPort{};
    if (!port) return memFullErr;
    void* pixels = std::aligned_alloc(64, static_cast<size_t>(rowBytes) * height);
    if (!pixels) {
        delete port;
        return memFullErr;
    }
    port->pixMap.baseAddr = static_cast<uint32_t*>(pixels);
    port->pixMap.rowBytes = rowBytes;
    port->pixMap.bounds = *bounds;
    port->pixMap.pixelSize = 32;
    port->pixMap.watcher = nullptr;
    port->pixMapBlock.master = &port->pixMap;
    port->pixMapBlock.state = 0;
    port->pixelsState = 0;
    port->device.deviceID = gNextDeviceID.fetch_add(1);
    port->deviceMaster = &port->device;
    port->portRect = *bounds;
    port->foreColor = kBlack;
    port->backColor = kWhite;
    port->pen = {0, 0};
    port->textSize = 0;
    tavdraw::FillPortRect(port, *bounds, 0xFFFFFFFFu);
    gLiveWorlds.fetch_add(1);
    *offscreenGWorld = port;
    return noErr;
}

void DisposeGWorld(GWorldPtr world) {
    if (!world) return;
    if (tCurrentPort == world) {
        tCurrentPort = nullptr;
        tCurrentDevice = nullptr;
    }
    std::free(world->pixMap.baseAddr);
    delete world;
    gLiveWorlds.fetch_sub(1);
}

int32_t TavLiveGWorldCount(void) {
    return gLiveWorlds.load();
}

void GetGWorld(CGrafPtr* port, GDHandle* gdh) {
    if (port) *port = tCurrentPort;
    if (gdh) *gdh = tCurrentDevice;
}

void SetGWorld(CGrafPtr port, GDHandle gdh) {
    tCurrentPort = port;
    tCurrentDevice = (gdh || !port) ? gdh : &port->deviceMaster;
}

GDHandle GetGWorldDevice(GWorldPtr world) {
    return world ? &world->deviceMaster : nullptr;
}

PixMapHandle GetGWorldPixMap(GWorldPtr world) {
    return world ? reinterpret_cast<PixMapHandle>(&world->pixMapBlock.master) : nullptr;
}

Rect* GetPortBounds(CGrafPtr port, Rect* rect) {
    if (port && rect) *rect = port->portRect;
    return rect;
}

Ptr GetPixBaseAddr(PixMapHandle pm) {
    return pm ? reinterpret_cast<Ptr>((*pm)->baseAddr) : nullptr;
}

int32_t GetPixRowBytes(PixMapHandle pm) {
    return pm ? (*pm)->rowBytes : 0;
}

GWorldFlags GetPixelsState(PixMapHandle pm) {
    return pm ? tavdraw::PortOfPixMap(pm)->pixelsState : 0;
}

void SetPixelsState(PixMapHandle pm, GWorldFlags state) {
    if (pm) tavdraw::PortOfPixMap(pm)->pixelsState = state;
}

Boolean LockPixels(PixMapHandle pm) {
    if (!pm) return 0;
    tavdraw::PortOfPixMap(pm)->pixelsState |= pixelsLocked;
    return 1;
}

void UnlockPixels(PixMapHandle pm) {
    if (pm) tavdraw::PortOfPixMap(pm)->pixelsState &= ~pixelsLocked;
}

SInt8 HGetState(Handle h) {
    return h ? BlockOf(h)->state : 0;
}

void HSetState(Handle h, SInt8 flags) {
    if (h) BlockOf(h)->state = flags;
}

// Blocks never move in this heap, so moving one high only has to leave it valid.
void MoveHHi(Handle) {}

void HLock(Handle h) {
    if (h) BlockOf(h)->state = SInt8(BlockOf(h)->state | (1 << kHandleLockedBit));
}

void HUnlock(Handle h) {
    if (h) BlockOf(h)->state = SInt8(BlockOf(h)->state & ~(1 << kHandleLockedBit));
}

void RGBForeColor(const RGBColor* color) {
    if (CurrentPort() && color) CurrentPort()->foreColor = *color;
}

void RGBBackColor(const RGBColor* color) {
    if (CurrentPort() && color) CurrentPort()->backColor = *color;
}

void GetForeColor(RGBColor* color) {
    if (CurrentPort() && color) *color = CurrentPort()->foreColor;
}

void GetBackColor(RGBColor* color) {
    if (CurrentPort() && color) *color = CurrentPort()->backColor;
}

void GetPortForeColor(CGrafPtr port, RGBColor* color) {
    if (port && color) *color = port->foreColor;
}

void GetPortBackColor(CGrafPtr port, RGBColor* color) {
    if (port && color) *color = port->backColor;
}

short GetPortTextSize(CGrafPtr port) {
    return port ? port->textSize : 0;
}

void GetPortPenLocation(CGrafPtr port, Point* pen) {
    if (port && pen) *pen = port->pen;
}

void ForeColor(int32_t color) {
    RGBColor rgb;
    if (CurrentPort() && ClassicColor(color, &rgb)) CurrentPort()->foreColor = rgb;
}

void BackColor(int32_t color) {
    RGBColor rgb;
    if (CurrentPort() && ClassicColor(color, &rgb)) CurrentPort()->backColor = rgb;
}

void PaintRect(const Rect* r) {
    if (CurrentPort() && r)
        tavdraw::FillPortRect(CurrentPort(), *r, TavPixelFromRGB(CurrentPort()->foreColor));
}

void EraseRect(const Rect* r) {
    if (CurrentPort() && r)
        tavdraw::FillPortRect(CurrentPort(), *r, TavPixelFromRGB(CurrentPort()->backColor));
}

void MoveTo(short h, short v) {
    if (CurrentPort()) CurrentPort()->pen = Point{v, h};
}

void TextSize(short size) {
    if (CurrentPort()) CurrentPort()->textSize = size;
}

}  // extern "C"
