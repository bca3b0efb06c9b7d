// Platform types shared by the host interface, the drawing layer and the plug-ins.
// Named and laid out as the classic platform headers have them.
#pragma once

#include <cstdint>

typedef unsigned char Boolean;  // 0 is false, anything else true
typedef int8_t SInt8;
typedef uint8_t UInt8;
typedef int16_t SInt16;
typedef uint16_t UInt16;
typedef int32_t SInt32;
typedef uint32_t UInt32;
typedef int16_t OSErr;

typedef char* Ptr;
typedef Ptr* Handle;

struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

struct Point {
    int16_t v;
    int16_t h;
};

struct RGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};

// Opaque to the plug-ins; the drawing layer defines them.
struct CGrafPort;
typedef CGrafPort* CGrafPtr;
typedef CGrafPtr GWorldPtr;

struct GDevice;
typedef GDevice* GDPtr;
typedef GDPtr* GDHandle;

struct PixMap;
typedef PixMap* PixMapPtr;
typedef PixMapPtr* PixMapHandle;

struct ColorTable;
typedef ColorTable** CTabHandle;

typedef uint32_t GWorldFlags;

// Pascal strings: a length byte, then the text.
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str32[33];
typedef Str63 StrFileName;
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStr255Param;

#pragma pack(push, 2)
struct FSSpec {
    int16_t vRefNum;
    int32_t parID;
    StrFileName name;
};
#pragma pack(pop)
