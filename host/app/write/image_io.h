// Still pictures: PNG and JPEG files, and scaling pixels.
#pragma once

#include <cstdint>
#include <string>

namespace tavhost::media {

// Still-image formats, told by a file name's extension (.png, .jpg, .jpeg).
enum class ImageFormat { kNone, kPng, kJpeg };
ImageFormat ImageFormatOf(const std::string& path);

// Writes one picture as a PNG or JPEG file; messages name it `shown`.
bool WriteImage(const std::string& path, const std::string& shown, ImageFormat format,
                const uint32_t* pixels, int width, int height, int rowPixels, std::string* error);

// Scales a picture: area averaging, or the cheapest filter when `fast`.
// False when the scaler cannot be made (the picture is then left as it was).
bool Scale(const uint32_t* src, int srcW, int srcH, int srcRowPixels, uint32_t* dst, int dstW,
           int dstH, int dstRowPixels, bool fast = false);

}  // namespace tavhost::media
