// The drawing calls plug-ins make: graphics worlds and ports, pixel-map and
// handle lock state, colours, rectangles and text. C linkage, classic names.
#pragma once

#include <cstdint>

#include "tav/platform_types.h"

// Pixels state flags (GWorldFlags).
constexpr GWorldFlags pixelsPurgeable = 1u << 6;
constexpr GWorldFlags pixelsLocked = 1u << 7;

// Handle state bits (HGetState).
constexpr SInt8 kHandleLockedBit = 7;
constexpr SInt8 kHandlePurgeableBit = 6;
constexpr SInt8 kHandleResourceBit = 5;

// Classic indexed colours for ForeColor / BackColor.
constexpr int32_t blackColor = 33;
constexpr int32_t whiteColor = 30;
constexpr int32_t redColor = 205;
constexpr int32_t greenColor = 341;
constexpr int32_t blueColor = 409;
constexpr int32_t cyanColor = 273;
constexpr int32_t magentaColor = 137;
constexpr int32_t yellowColor = 69;

#if defined(TAV_BUILDING_DRAW)
#define TAV_DRAW_API __attribute__((visibility("default")))
#else
#define TAV_DRAW_API
#endif

extern "C" {

// Ports and graphics worlds.
TAV_DRAW_API void GetGWorld(CGrafPtr* port, GDHandle* gdh);
TAV_DRAW_API void SetGWorld(CGrafPtr port, GDHandle gdh);
TAV_DRAW_API PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld);
TAV_DRAW_API Rect* GetPortBounds(CGrafPtr port, Rect* rect);

// Pixel-map lock state.
TAV_DRAW_API GWorldFlags GetPixelsState(PixMapHandle pm);
TAV_DRAW_API void SetPixelsState(PixMapHandle pm, GWorldFlags state);
TAV_DRAW_API Boolean LockPixels(PixMapHandle pm);
TAV_DRAW_API void UnlockPixels(PixMapHandle pm);

// Memory Manager handle state.
TAV_DRAW_API SInt8 HGetState(Handle h);
TAV_DRAW_API void HSetState(Handle h, SInt8 flags);
TAV_DRAW_API void MoveHHi(Handle h);
TAV_DRAW_API void HLock(Handle h);
TAV_DRAW_API void HUnlock(Handle h);

// Colours and filling.
TAV_DRAW_API void RGBForeColor(const RGBColor* color);
TAV_DRAW_API void RGBBackColor(const RGBColor* color);
TAV_DRAW_API void GetForeColor(RGBColor* color);
TAV_DRAW_API void GetBackColor(RGBColor* color);
TAV_DRAW_API void ForeColor(int32_t color);
TAV_DRAW_API void BackColor(int32_t color);
TAV_DRAW_API void PaintRect(const Rect* r);
TAV_DRAW_API void EraseRect(const Rect* r);

// Text.
TAV_DRAW_API void TextSize(short size);
TAV_DRAW_API short StringWidth(const unsigned char* s);
TAV_DRAW_API void MoveTo(short h, short v);
TAV_DRAW_API void DrawString(const unsigned char* s);

}  // extern "C"
