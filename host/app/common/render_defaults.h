// What a render takes when it is not told otherwise, and the ranges of the
// values users give: declared once here. The option table shows them in
// --help, the manual page and range messages; the structs that carry a
// render's settings start from them.
#pragma once

#include <cstdint>

namespace tavhost::defaults {

inline constexpr int16_t kVariant = 3;         // a bundle's variant
inline constexpr int16_t kVariantMax = 32767;  // variants are numbered from 1
inline constexpr float kSpeed = 0.5f;          // 0 (shortest) to 1 (longest)
inline constexpr int kCrf = 20;                // H.264 quality
inline constexpr int kCrfMax = 51;             // 0 is lossless
inline constexpr const char* kPreset = "veryfast";
inline constexpr const char* kPreviewPreset = "ultrafast";
inline constexpr double kStillSeconds = 5.0;  // how long a still image is shown
inline constexpr double kStillSecondsMin = 0.04;
inline constexpr double kStillSecondsMax = 3600;
inline constexpr int kSizeMin = 2;  // each side of an output picture
inline constexpr int kSizeMax = 16384;
inline constexpr int kRateMax = 240;    // frames a second
inline constexpr int kPartsMax = 1000;  // pieces of a render in parts

}  // namespace tavhost::defaults
