// The binary interface between the host application and a transition plug-in:
// the parameter block, the records handed out through host services, the
// one-byte enumerations and the 30-slot service table.
#pragma once

#include <cstdint>

#include "tav/platform_types.h"

// ---------------------------------------------------------------------------
// Enumerations: every one occupies exactly one byte.

enum TavPluginResult : uint8_t {
    kPluginOK = 0,
    kPluginCancel = 1,
    kPluginFinished = 2,
    kPluginBadParams = 3,
    kPluginOutOfMemory = 4,
    kPluginOutOfDiskSpace = 5,
    kPluginFailed = 6,
    kPluginCantGetNeededFrame = 7,
    kPluginUnimplemented = 8,
    kPluginTryAgainLater = 9,
    kPluginAppIsTooOld = 10,
    kPluginAppIsTooNew = 11,
};

enum TavPluginSelector : uint8_t {
    kPlugGetInfo = 1,
    kPlugInitialize = 2,
    kPlugDrawIcon = 3,
    kPlugDrawThumbNail = 4,
    kPlugFilePlaceHolder = 5,
    kPlugDoFrame = 6,
    kPlugCallOnceWithInitAndTerminate = 7,
    kPlugTerminate = 8,
    kPlugCustomButtonClick = 9,
};

enum TavPluginType : uint8_t {
    kPluginUnknownType = 0,
    kPluginTitleType = 101,
    kPluginTransitionBeforeType = 102,
    kPluginTransitionBetweenType = 103,
    kPluginTransitionAfterType = 104,
    kPluginFilterType = 105,
};

enum TavTitleType : uint8_t {
    kTitleUnknown = 1,
    kTitleSingleTextPair = 2,
    kTitleMultiTextPair = 3,
    kTitleTextBlock = 4,
};

enum TavPluginDirection : uint8_t {
    kPluginDirectionNone = 0,
    kPluginDirectionUp = 1,
    kPluginDirectionDown = 2,
    kPluginDirectionLeft = 3,
    kPluginDirectionRight = 4,
};

enum TavTitleJustification : uint8_t {
    kTitleJustCenter = 0,
    kTitleJustLeft = 1,
    kTitleJustRight = 2,
};

enum TavRefDVQuality : uint8_t {
    kDVLowQuality = 0,
    kDVHighQuality = 1,
    kDVHighQualitySingleField = 2,
};

enum TavRefClipType : uint8_t {
    kRefUnknownClipType = 0,
    kRefRegularClipType = 1,
    kRefTransitionClipType = 2,
    kRefTitleClipType = 3,
    kRefImageClipType = 4,
    kRefBlackClipType = 5,
    kRefPanZoomClipType = 6,
};

enum TavRefDigitalVideoStandard : uint8_t {
    kRefUnknownStandard = 0,
    kRefNTSCStandard = 1,
    kRefPALStandard = 2,
};

// ---------------------------------------------------------------------------
// Opaque host tokens and flag words.

typedef void* TavPluginInstance;  // one plug-in instance
typedef void* TavFrameCookie;     // one fetched source frame
typedef uint32_t TavPluginChoiceFlags;

// ---------------------------------------------------------------------------
// Records.

struct TavPluginGetInfo {
    TavPluginType pluginType;
    TavTitleType titleType;
    TavPluginChoiceFlags pluginFlags;
    int32_t framesToBeRendered;
    int32_t takeFromClipBefore;
    int32_t takeFromClipAfter;
    int32_t minSpeedFrames;
    int32_t maxSpeedFrames;
    Boolean mustTakeFromSingleClips;
    int32_t bestThumbOffset;
    RGBColor defaultColor;
    TavPluginDirection defaultDirection;
    TavTitleJustification justify;
    int16_t defaultFontNum;
    int16_t defaultFontSize;
};

struct TavPluginFilterSliderInfo {
    char label[128];
    char minLabel[128];
    char maxLabel[128];
    float defaultValue;
};

struct Tav2PluginGetInfo {
    char group[128];
    TavPluginFilterSliderInfo filterSliders[3];
    int32_t defaultFadeInFrames;
    int32_t defaultFadeOutFrames;
    int32_t minHangFrames;
    int32_t maxHangFrames;
    float defaultFontSizeScale;
    int32_t selectedFrames;
    int32_t speedFrames;
    int32_t hangFrames;
    int32_t baseMemoryNeeded;
};

struct TavPluginFileOpenInfo {
    int16_t typeCount;
    Handle hTypes;
    FSSpec chosenFile;
};

struct Tav3PluginGetInfo {
    float defaultX;
    float defaultY;
    float userX;
    float userY;
    TavPluginFileOpenInfo fileInfo;
    char buttonTitle[32];
};

struct Tav4PluginGetInfo {
    TavPluginFilterSliderInfo titleSliders[1];
};

struct TavProcs;

struct TavPluginParams {
    int16_t interfaceVersion;
    TavPluginInstance instance;
    TavPluginSelector selector;
    TavProcs* procs;
    TavPluginGetInfo getInfo;
    int32_t startFrame;
    int32_t renderFrame;
    int32_t frameCount;
    Boolean proxyOnly;
    Rect frameRect;
    GWorldPtr frame;
    void* clientData;
    Tav2PluginGetInfo getInfo2;
    Tav3PluginGetInfo getInfo3;
    Tav4PluginGetInfo getInfo4;
};

struct Tav2PluginTransitionInfo {
    TavPluginDirection direction;
};

struct TavPluginTransitionInfo {
    float speed;
    Tav2PluginTransitionInfo ver2;
};

struct TavRefClip {
    TavRefClipType clipType;
    char name[128];
    TavRefDigitalVideoStandard standard;
    int32_t frameCount;
    int32_t in;
    int32_t out;
    FSSpec fileSpec;
    int32_t absoluteStartFrame;
};

struct Tav2PluginClipInfo {
    Boolean backwards;
    int16_t frameSpeed;
    int32_t fadeInFrames;
    int32_t fadeOutFrames;
};

struct Tav4PluginClipInfo {
    int32_t clipFrame;
    TavRefClip clipRef;
};

struct TavPluginClipInfo {
    int16_t volume;
    Boolean fadeIn;
    Boolean fadeOut;
    char name[256];
    Tav2PluginClipInfo ver2;
    Tav4PluginClipInfo ver4;
};

// ---------------------------------------------------------------------------
// Host services. The twelve that plug-ins call take the argument lists the
// plug-ins rely on; the others are the host's own design.

typedef Ptr (*ProxTypeNewPtr)(int32_t byteCount);
typedef ProxTypeNewPtr ProxTypeNewPtrClear;
typedef void (*ProxTypeDisposePtr)(Ptr block);
typedef void (*ProxTypeptocstr)(char* dst, const unsigned char* src);
typedef void (*ProxTypectopstr)(unsigned char* dst, const char* src);
typedef void (*ProxTypepstrcpy)(unsigned char* dst, const unsigned char* src);
typedef char* (*ProxTypestrcpy)(char* dst, const char* src);
typedef uint32_t (*ProxTypestrlen)(const char* str);
typedef void (*ProxTypeGetLocalizedString)(unsigned char* str, int16_t listID, int16_t index);
typedef TavPluginResult (*ProxTypeGetFrame)(TavPluginInstance instance, int32_t frameNumber,
                                            GWorldPtr* world, int32_t width, int32_t height,
                                            int32_t quality, int16_t* volume,
                                            TavFrameCookie* cookie);
typedef TavPluginResult (*ProxTypeReleaseFrame)(TavPluginInstance instance, TavFrameCookie cookie);
typedef TavPluginResult (*ProxTypeGetAudioFrame)(TavPluginInstance instance, int32_t frameNumber,
                                                 int16_t** samples, int32_t* sampleCount,
                                                 TavFrameCookie* cookie);
typedef TavPluginResult (*ProxTypeReleaseAudioFrame)(TavPluginInstance instance,
                                                     TavFrameCookie cookie);
typedef TavPluginResult (*ProxTypeGetMovieInfo)(TavPluginInstance instance, int32_t* width,
                                                int32_t* height, float* framesPerSecond);
typedef TavPluginResult (*ProxTypeGetClipInfo)(TavPluginInstance instance, int32_t which,
                                               TavPluginClipInfo* info);
typedef TavPluginResult (*ProxTypeSetClipInfo)(TavPluginInstance instance, TavPluginClipInfo* info);
typedef TavPluginResult (*ProxTypeBlit)(PixMapPtr src, PixMapPtr dst, const Rect* srcRect,
                                        const Rect* dstRect, int32_t mode);
typedef TavPluginResult (*ProxTypeFillRect)(PixMapPtr dst, const Rect* rect, const RGBColor* color);
typedef TavPluginResult (*ProxTypeTextBounds)(TavPluginInstance instance, const unsigned char* text,
                                              Rect* bounds);
typedef TavPluginResult (*ProxTypeDrawText)(TavPluginInstance instance, PixMapPtr dst,
                                            const unsigned char* text, const Rect* where);
typedef TavPluginResult (*ProxTypeGetTitleInfo)(TavPluginInstance instance, void** info);
typedef TavPluginResult (*ProxTypeReleaseTitleInfo)(TavPluginInstance instance, void* info);
typedef TavPluginResult (*ProxTypeGetTransitionInfo)(TavPluginInstance instance,
                                                     TavPluginTransitionInfo** info);
typedef TavPluginResult (*ProxTypeReleaseTransitionInfo)(TavPluginInstance instance,
                                                         TavPluginTransitionInfo* info);
typedef TavPluginResult (*ProxTypeMixAudio)(TavPluginInstance instance, TavFrameCookie cookie,
                                            int32_t level);
typedef TavPluginResult (*ProxTypeGetFilterInfo)(TavPluginInstance instance, void** info);
typedef TavPluginResult (*ProxTypeReleaseFilterInfo)(TavPluginInstance instance, void* info);
typedef float (*ProxTypeStringWidth)(const unsigned char* text, int16_t fontNum, float size);
typedef TavPluginResult (*ProxTypeCGDrawText)(TavPluginInstance instance, const unsigned char* text,
                                              float x, float y);
typedef float (*ProxTypeCGStringWidth)(const unsigned char* text);

struct TavProcs {
    ProxTypeNewPtr NewPtr;
    ProxTypeNewPtrClear NewPtrClear;
    ProxTypeDisposePtr DisposePtr;
    ProxTypeptocstr ptocstr;
    ProxTypectopstr ctopstr;
    ProxTypepstrcpy pstrcpy;
    ProxTypestrcpy strcpy;
    ProxTypestrlen strlen;
    ProxTypeGetLocalizedString GetLocalizedString;
    ProxTypeGetFrame GetFrame;
    ProxTypeReleaseFrame ReleaseFrame;
    ProxTypeGetAudioFrame GetAudioFrame;
    ProxTypeReleaseAudioFrame ReleaseAudioFrame;
    ProxTypeGetMovieInfo GetMovieInfo;
    ProxTypeGetClipInfo GetClipInfo;
    ProxTypeSetClipInfo SetClipInfo;
    ProxTypeBlit Blit;
    ProxTypeFillRect FillRect;
    ProxTypeTextBounds TextBounds;
    ProxTypeDrawText DrawText;
    ProxTypeGetTitleInfo GetTitleInfo;
    ProxTypeReleaseTitleInfo ReleaseTitleInfo;
    ProxTypeGetTransitionInfo GetTransitionInfo;
    ProxTypeReleaseTransitionInfo ReleaseTransitionInfo;
    ProxTypeMixAudio MixAudio;
    ProxTypeGetFilterInfo GetFilterInfo;
    ProxTypeReleaseFilterInfo ReleaseFilterInfo;
    ProxTypeStringWidth StringWidth;
    ProxTypeCGDrawText CGDrawText;
    ProxTypeCGStringWidth CGStringWidth;
};

// The plug-in entry point every bundle exports under the plain name `main`.
typedef int32_t (*TavPluginMainProc)(int32_t which, TavPluginParams* params);

// The oldest interface version a plug-in accepts.
constexpr int16_t kTavMinInterfaceVersion = 3;

// The localized string list the host serves the placeholder caption from (entry 1).
constexpr int16_t kTavPlaceholderStringList = 17000;

#include "tav/plugin_layout.h"
